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
#include "app/Author.h"
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
    void aboutShowsNoPlaceholder();
    void bothPagesShowTheLogo();
    void helpButtons();
    void enterOpensTheHelpDocument();
    void helpCopyIsReusedRestoredAndRemoved();
    void emailOpensMailto();
    void unwritableTempDirIsReported();
    void missingBrowserAndMailProgramAreReported();

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
    QCOMPARE(info.first(), QStringLiteral("Quorlix"));
    QCOMPARE(info.last(), QStringLiteral("Email: quorlix@example.org"));

    // The texts are written with CR LF; a label shows LF only.
    const QString licence = page->Item<QLabel>(1052)->text();
    const QString disclaimer = page->Item<QLabel>(1051)->text();
    QVERIFY(licence.startsWith(QStringLiteral("LICENCE:\n\t")));
    QVERIFY(licence.contains(QStringLiteral("MIT License")));
    QVERIFY(disclaimer.startsWith(QStringLiteral("DISCLAIMER:\n\t")));
    QCOMPARE(licence, QString::fromStdString(AboutLicenceText()).remove(QLatin1Char('\r')));
    QCOMPARE(disclaimer, QString::fromStdString(AboutDisclaimerText()).remove(QLatin1Char('\r')));
    QVERIFY(AboutLicenceText().find("\r\n\t") != std::string::npos);
    QVERIFY(AboutLicenceText().find('\n') == AboutLicenceText().find("\r\n") + 1);
}

void AboutHelpTest::aboutShowsNoPlaceholder()
{
    for (int index : {10, 11}) {
        auto page = Shown<ToolPage>(index);
        QVERIFY(page);
        for (auto* label : page->findChildren<QLabel*>())
            QVERIFY2(!label->isVisible() || !label->text().contains(QStringLiteral("##")), qPrintable(label->text()));
        for (auto* button : page->findChildren<QAbstractButton*>())
            QVERIFY2(!button->text().contains(QStringLiteral("##")), qPrintable(button->text()));
    }
}

void AboutHelpTest::bothPagesShowTheLogo()
{
    for (int index : {10, 11}) {
        auto page = Shown<ToolPage>(index);
        QVERIFY(page);
        bool found = false;
        for (auto* label : page->findChildren<QLabel*>())
            if (label->accessibleName() == QStringLiteral("Quorlix logo"))
                found = label->pixmap().size() == QSize(200, 100) && label->isVisible();
        QVERIFY2(found, "logo picture of 200 x 100 pixels");
    }
}

void AboutHelpTest::helpButtons()
{
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    auto* help = page->Item<QPushButton>(1056);
    auto* website = page->Item<QPushButton>(1057);
    auto* email = page->Item<QPushButton>(1058);
    QCOMPARE(help->text(), QStringLiteral("HTML Help..."));
    QCOMPARE(page->DefaultButton(), help);
    QVERIFY(help->isDefault());

    QCOMPARE(website->text(), QStringLiteral("Visit Quorlix Website..."));
    QVERIFY(!website->isEnabled());
    MessageRecorder messages;
    QTest::mouseClick(website, Qt::LeftButton);
    website->click();  // a disabled button ignores even a programmatic click
    QVERIFY(messages.Messages().empty());
    QVERIFY(recorder_.urls.isEmpty());

    QCOMPARE(email->text(), QStringLiteral("Email: ") + QLatin1String(kAuthorAddress));
    QCOMPARE(email->text(), QStringLiteral("Email: quorlix@example.org"));
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
    QCOMPARE(url.scheme(), QStringLiteral("file"));
    QVERIFY2(!url.hasFragment() && !url.hasQuery(), "opens at the top of the document");
    const QString path = url.toLocalFile();
    QVERIFY(path.endsWith(QStringLiteral(".html")));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray document = file.readAll();
    QFile resource(QStringLiteral(":/docs/help.html"));
    QVERIFY(resource.open(QIODevice::ReadOnly));
    QCOMPARE(document, resource.readAll());
    const auto title = QRegularExpression(QStringLiteral("<title>([^<]*)</title>")).match(QString::fromLatin1(document));
    QVERIFY(title.hasMatch());
    QVERIFY(title.captured(1).contains(QStringLiteral("Quorlix")));

    // Private: no one but the owner may read or replace it.
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    QCOMPARE(file.permissions() & others, QFileDevice::Permissions());

    // Enter presses the focused button when it is one: here the e-mail button.
    page->Item<QPushButton>(1058)->setFocus();
    QTest::keyClick(page->Item<QPushButton>(1058), Qt::Key_Return);
    QCOMPARE(recorder_.urls.size(), 2);
    QCOMPARE(recorder_.urls.last().scheme(), QStringLiteral("mailto"));
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
    QVERIFY(QFileInfo(second).size() > 10000);

    page.reset();
    QVERIFY2(!QFileInfo::exists(second), "the page removes its copy when it goes");
}

void AboutHelpTest::emailOpensMailto()
{
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    MessageRecorder messages;
    QTest::mouseClick(page->Item<QPushButton>(1058), Qt::LeftButton);
    QCOMPARE(recorder_.urls.size(), 1);
    QCOMPARE(recorder_.urls.first().toString(), QStringLiteral("mailto:quorlix@example.org"));
    QVERIFY(messages.Messages().empty());
}

void AboutHelpTest::unwritableTempDirIsReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    MessageRecorder messages;
    page->Item<QPushButton>(1056)->click();
    QVERIFY(recorder_.urls.isEmpty());
    QCOMPARE(messages.Messages().size(), size_t(1));
    QVERIFY(messages.Texts().first().startsWith(QStringLiteral("Unable To Write The Help Document!")));
    QCOMPARE(messages.Messages().front().kind, MessageKind::Failure);
}

void AboutHelpTest::missingBrowserAndMailProgramAreReported()
{
    // The offscreen platform opens nothing and says so, as a desktop without
    // a browser or a mail program does.
    cleanup();
    auto page = Shown<HelpPage>(11);
    QVERIFY(page);
    MessageRecorder messages;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("openDocument|openUrl")));
    page->Item<QPushButton>(1056)->click();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("openDocument|openUrl")));
    page->Item<QPushButton>(1058)->click();
    QCOMPARE(messages.Messages().size(), size_t(2));
    const QString browser = messages.Texts()[0];
    QVERIFY(browser.startsWith(QStringLiteral("Unable To Start A Web Browser!")));
    // The message names the copy, so the user can open it by hand.
    const QString path = browser.section(QLatin1Char('\n'), -1);
    QVERIFY2(QFileInfo(path).isReadable(), qPrintable(path));
    QVERIFY(messages.Texts()[1].startsWith(QStringLiteral("Unable To Start An Email Program!")));
    QVERIFY(messages.Texts()[1].endsWith(QStringLiteral("quorlix@example.org")));
    QCOMPARE(messages.Messages().front().kind, MessageKind::Warning);
}

QTEST_MAIN(AboutHelpTest)
#include "about_help_test.moc"
