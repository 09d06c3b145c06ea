// The About and Help pages, driven offscreen. Opening a URL is caught by URL
// handlers for file: and mailto:, so no browser or mail program starts.
#include <QAbstractButton>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
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

namespace {

template <class T = ToolPage>
std::unique_ptr<T> Shown(int index)
{
    std::unique_ptr<T> page(qobject_cast<T*>(CreatePage(index, nullptr)));
    if (page && !ShowExposed(page.get()))
        page.reset();
    return page;
}

}  // namespace

class AboutHelpTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        recorder_.urls.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder_, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &recorder_, "Open");
    }

    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    }

    void pagesShowVersionTextsAndNoPlaceholder()
    {
        auto about = Shown<AboutPage>(10);
        QVERIFY(about);
        const QStringList info = about->Item<QLabel>(1053)->text().split(QLatin1Char('\n'));
        QVERIFY2(info.contains(QStringLiteral("Version: 1.3 (BETA)")), qPrintable(info.join(QLatin1Char('|'))));
        QCOMPARE(info.last(), QStringLiteral("Email: quorlix@example.org"));
        // The texts are written with CR LF; a label shows LF only.
        const QString licence = about->Item<QLabel>(1052)->text();
        QVERIFY(licence.startsWith(QStringLiteral("LICENCE:\n\t")) && licence.contains(QStringLiteral("MIT License")));
        QVERIFY(about->Item<QLabel>(1051)->text().startsWith(QStringLiteral("DISCLAIMER:\n\t")));

        auto help = Shown(11);
        QVERIFY(help);
        for (ToolPage* page : {static_cast<ToolPage*>(about.get()), help.get()}) {
            for (auto* label : page->findChildren<QLabel*>()) {
                QVERIFY2(!label->text().contains(QStringLiteral("##")), qPrintable(label->text()));
                if (label->accessibleName() == QStringLiteral("Quorlix logo"))
                    QCOMPARE(label->pixmap().size(), QSize(200, 100));
            }
            for (auto* button : page->findChildren<QAbstractButton*>())
                QVERIFY2(!button->text().contains(QStringLiteral("##")), qPrintable(button->text()));
        }
    }

    void helpButtonsOpenTheDocumentAndAMail()
    {
        auto page = Shown<HelpPage>(11);
        QVERIFY(page);
        MessageRecorder messages;
        QCOMPARE(page->DefaultButton(), page->Item<QPushButton>(1056));
        QTest::keyClick(page.get(), Qt::Key_Return);
        QCOMPARE(recorder_.urls.size(), 1);
        const QUrl url = recorder_.urls.first();
        QVERIFY2(url.isLocalFile() && !url.hasFragment(), "a file, opened at its top");
        QFile file(url.toLocalFile()), resource(QStringLiteral(":/docs/help.html"));
        QVERIFY(file.open(QIODevice::ReadOnly) && resource.open(QIODevice::ReadOnly));
        const QByteArray document = file.readAll();
        QCOMPARE(document, resource.readAll());
        QVERIFY(document.contains("<title>Quorlix Help</title>"));
        // Private: no one but the owner may read or replace it.
        QCOMPARE(file.permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                         QFileDevice::WriteUser),
                 QFileDevice::Permissions());

        // The copy is reused, and written again once it has gone (say, a cleaner
        // emptied the temporary folder).
        auto* help = page->Item<QPushButton>(1056);
        help->click();
        QCOMPARE(recorder_.urls.last(), url);
        QVERIFY(QFile::remove(url.toLocalFile()));
        help->click();
        QCOMPARE(recorder_.urls.size(), 3);
        const QString second = recorder_.urls.last().toLocalFile();
        QVERIFY(QFileInfo(second).isReadable());

        auto* website = page->Item<QPushButton>(1057);
        QVERIFY(!website->isEnabled());
        QTest::mouseClick(website, Qt::LeftButton);
        auto* email = page->Item<QPushButton>(1058);
        QCOMPARE(email->text(), QStringLiteral("Email: quorlix@example.org"));
        QTest::mouseClick(email, Qt::LeftButton);
        QCOMPARE(recorder_.urls.size(), 4);
        QCOMPARE(recorder_.urls.last(), QUrl(QStringLiteral("mailto:quorlix@example.org")));
        QVERIFY(messages.Messages().empty());

        page.reset();
        QVERIFY2(!QFileInfo::exists(second), "the page removes its copy when it goes");
    }

    void failuresAreReported()
    {
        MessageRecorder messages;
        std::unique_ptr<HelpPage> page;
        {
            const QByteArray tmpDir = qgetenv("TMPDIR");
            const auto restore = qScopeGuard([&] { tmpDir.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmpDir); });
            QTemporaryDir dir;
            qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
            page = Shown<HelpPage>(11);
            QVERIFY(page);
            page->Item<QPushButton>(1056)->click();  // the copy goes nowhere else
            QVERIFY(recorder_.urls.isEmpty());
        }
        // The offscreen platform opens nothing and says so, as a desktop without
        // a browser or a mail program does.
        cleanup();
        for (int id : {1056, 1058}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("openDocument|openUrl")));
            page->Item<QPushButton>(id)->click();
        }
        const QStringList texts = messages.Texts();
        QCOMPARE(texts.size(), 3);
        QVERIFY(texts[0].startsWith(QStringLiteral("Unable To Write The Help Document!")));
        QVERIFY(texts[1].startsWith(QStringLiteral("Unable To Start A Web Browser!")));
        // The message names the copy, so the user can open it by hand.
        QVERIFY(QFileInfo(texts[1].section(QLatin1Char('\n'), -1)).isReadable());
        QVERIFY(texts[2].startsWith(QStringLiteral("Unable To Start An Email Program!")));
    }

private:
    UrlRecorder recorder_;
};

QTEST_MAIN(AboutHelpTest)
#include "about_help_test.moc"
