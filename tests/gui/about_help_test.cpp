// The About and Help pages, driven offscreen. Opening a URL is caught by URL
// handlers for file: and mailto:, so no browser or mail program starts.
#include <QAbstractButton>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

#include "app/AboutPage.h"
#include "app/HelpPage.h"
#include "app/Pages.h"
#include "support/GuiTest.h"

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

class AboutHelpTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void aboutShowsVersionAndTexts();
    void noPlaceholderAndTheLogo();
    void helpButtonsAndMailto();
    void enterOpensTheHelpDocument();
    void helpCopyIsReusedRestoredAndRemoved();
    void failuresAreReported();

private:
    template <class T>
    std::unique_ptr<T> Shown(int index)
    {
        std::unique_ptr<T> page(qobject_cast<T*>(CreatePage(index, nullptr)));
        if (page) {
            page->show();
            page->activateWindow();
            if (!QTest::qWaitForWindowExposed(page.get()))
                page.reset();
        }
        return page;
    }

    UrlRecorder recorder_;
    QByteArray savedTmpDir_;
};

void AboutHelpTest::init()
{
    recorder_.urls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder_, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &recorder_, "Open");
    savedTmpDir_ = qgetenv("TMPDIR");
}

void AboutHelpTest::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    if (savedTmpDir_.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", savedTmpDir_);
}

void AboutHelpTest::aboutShowsVersionAndTexts()
{
    auto page = Shown<AboutPage>(10);
    QVERIFY(page);

    const QStringList info = page->Item<QLabel>(1053)->text().split(QLatin1Char('\n'));
    QVERIFY2(info.contains(QStringLiteral("Version: 1.3 (BETA)")), qPrintable(info.join(QLatin1Char('|'))));
    // The numbers come from the build, the one place the version is set.
    QVERIFY(info.contains(QStringLiteral("Version: %1.%2 (BETA)").arg(QUORLIX_VERSION_MAJOR).arg(QUORLIX_VERSION_MINOR)));
    QCOMPARE(info.last(), QStringLiteral("Email: quorlix@example.org"));

    // The texts are written with CR LF; a label shows LF only.
    const QString licence = page->Item<QLabel>(1052)->text();
    QVERIFY(licence.startsWith(QStringLiteral("LICENCE:\n\t")) && licence.contains(QStringLiteral("MIT License")));
    QVERIFY(page->Item<QLabel>(1051)->text().startsWith(QStringLiteral("DISCLAIMER:\n\t")));
}

void AboutHelpTest::noPlaceholderAndTheLogo()
{
    for (int index : {10, 11}) {
        auto page = Shown<ToolPage>(index);
        QVERIFY(page);
        for (auto* label : page->findChildren<QLabel*>()) {
            QVERIFY2(!label->text().contains(QStringLiteral("##")), qPrintable(label->text()));
            if (label->accessibleName() == QStringLiteral("Quorlix logo"))
                QCOMPARE(label->pixmap().size(), QSize(200, 100));
        }
        for (auto* button : page->findChildren<QAbstractButton*>())
            QVERIFY2(!button->text().contains(QStringLiteral("##")), qPrintable(button->text()));
    }
}

void AboutHelpTest::helpButtonsAndMailto()
{
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    QCOMPARE(page->DefaultButton(), page->Item<QPushButton>(1056));
    auto* website = page->Item<QPushButton>(1057);
    QVERIFY(!website->isEnabled());
    MessageRecorder messages;
    QTest::mouseClick(website, Qt::LeftButton);
    QVERIFY(messages.Messages().empty());
    QVERIFY(recorder_.urls.isEmpty());

    auto* email = page->Item<QPushButton>(1058);
    QCOMPARE(email->text(), QStringLiteral("Email: quorlix@example.org"));
    QTest::mouseClick(email, Qt::LeftButton);
    QCOMPARE(recorder_.urls, QList<QUrl>{QUrl(QStringLiteral("mailto:quorlix@example.org"))});
    QVERIFY(messages.Messages().empty());
}

void AboutHelpTest::enterOpensTheHelpDocument()
{
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    MessageRecorder messages;
    QTest::keyClick(page.get(), Qt::Key_Return);
    QCOMPARE(recorder_.urls.size(), 1);
    QVERIFY(messages.Messages().empty());

    const QUrl url = recorder_.urls.first();
    QVERIFY2(url.isLocalFile() && !url.hasFragment(), "a file, opened at its top");
    QFile file(url.toLocalFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QFile resource(QStringLiteral(":/docs/help.html"));
    QVERIFY(resource.open(QIODevice::ReadOnly));
    const QByteArray document = file.readAll();
    QCOMPARE(document, resource.readAll());
    QVERIFY(document.contains("<title>Quorlix Help</title>"));
    // Private: no one but the owner may read or replace it.
    QCOMPARE(file.permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                     QFileDevice::WriteUser),
             QFileDevice::Permissions());
}

void AboutHelpTest::helpCopyIsReusedRestoredAndRemoved()
{
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    auto* help = page->Item<QPushButton>(1056);
    help->click();
    help->click();
    QCOMPARE(recorder_.urls.size(), 2);
    QCOMPARE(recorder_.urls[0], recorder_.urls[1]);
    const QString first = recorder_.urls[0].toLocalFile();

    // Gone (say, a cleaner emptied the temporary folder): a new copy is written.
    QVERIFY(QFile::remove(first));
    help->click();
    QCOMPARE(recorder_.urls.size(), 3);
    const QString second = recorder_.urls[2].toLocalFile();
    QVERIFY(QFileInfo(second).isReadable());

    page.reset();
    QVERIFY2(!QFileInfo::exists(second), "the page removes its copy when it goes");
}

void AboutHelpTest::failuresAreReported()
{
    {
        // An unusable TMPDIR must not send the copy anywhere else.
        QTemporaryDir dir;
        qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
        auto page = Shown<HelpPage>(11);
        QVERIFY(page);
        MessageRecorder messages;
        page->Item<QPushButton>(1056)->click();
        QVERIFY(recorder_.urls.isEmpty());
        QCOMPARE(messages.Texts().size(), 1);
        QVERIFY(messages.Texts().first().startsWith(QStringLiteral("Unable To Write The Help Document!")));
    }
    // The offscreen platform opens nothing and says so, as a desktop without
    // a browser or a mail program does.
    cleanup();
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    MessageRecorder messages;
    const QRegularExpression platformWarning(QStringLiteral("openDocument|openUrl"));
    QTest::ignoreMessage(QtWarningMsg, platformWarning);
    page->Item<QPushButton>(1056)->click();
    QTest::ignoreMessage(QtWarningMsg, platformWarning);
    page->Item<QPushButton>(1058)->click();
    QCOMPARE(messages.Texts().size(), 2);
    const QString browser = messages.Texts()[0];
    QVERIFY(browser.startsWith(QStringLiteral("Unable To Start A Web Browser!")));
    // The message names the copy, so the user can open it by hand.
    QVERIFY(QFileInfo(browser.section(QLatin1Char('\n'), -1)).isReadable());
    QVERIFY(messages.Texts()[1].startsWith(QStringLiteral("Unable To Start An Email Program!")));
}

QTEST_MAIN(AboutHelpTest)
#include "about_help_test.moc"
