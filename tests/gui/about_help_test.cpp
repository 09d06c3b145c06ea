// The About and Help pages and the help document they ship. URL handlers for
// file: and mailto: catch every opening, so no browser or mail program starts.
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

#include "shell/AboutPage.h"
#include "shell/HelpPage.h"
#include "shell/Pages.h"
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

const QStringList kContents = {"welcome", "requirements", "conn",   "whois", "dns",    "ping",    "trace",
                               "packet",  "tcp",          "netinfo", "smtp", "base64", "licence", "disclaimer"};

QByteArray HelpDocument()
{
    QFile file(QStringLiteral(":/docs/help.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Text content with tags dropped, the few entities the document uses decoded
// and white space collapsed, so that wording can be compared.
QString PlainText(QString html)
{
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    for (const auto& [entity, text] : {std::pair{"&quot;", "\""}, {"&amp;", "&"}, {"&copy;", "(c)"}})
        html.replace(QLatin1String(entity), QLatin1String(text));
    return html.simplified();
}

// Every first capture of pattern in text, in order.
QStringList Captures(const QString& pattern, const QString& text)
{
    QStringList found;
    auto matches = QRegularExpression(pattern).globalMatch(text);
    while (matches.hasNext())
        found << matches.next().captured(1);
    return found;
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
        const QStringList info = about->Item<QLabel>(AboutControls::kInfo)->text().split(QLatin1Char('\n'));
        QVERIFY2(info.contains(QStringLiteral("Version: 1.3 (BETA)")), qPrintable(info.join(QLatin1Char('|'))));
        QCOMPARE(info.mid(info.size() - 3),
                 (QStringList{"This Application is designed for network diagnosis and security auditing.", "",
                              "Email: quorlix@example.org"}));
        QVERIFY(about->Item<QLabel>(AboutControls::kLicence)->text().startsWith(QStringLiteral("LICENCE:\n\t")));  // CR LF shows as LF
        auto help = Shown(11);
        QVERIFY(help);
        for (ToolPage* page : {static_cast<ToolPage*>(about.get()), help.get()})
            for (QWidget* w : page->findChildren<QWidget*>())
                QVERIFY2(!w->property("text").toString().contains(QStringLiteral("##")), qPrintable(w->objectName()));
    }

    void helpButtonsOpenTheDocumentAndAMail()
    {
        auto page = Shown<HelpPage>(11);
        QVERIFY(page);
        MessageRecorder messages;
        QTest::keyClick(page.get(), Qt::Key_Return);  // presses "HTML Help..."
        QCOMPARE(recorder_.urls.size(), 1);
        const QUrl url = recorder_.urls.first();
        QVERIFY2(url.isLocalFile() && !url.hasFragment(), "a file, opened at its top");
        QFile file(url.toLocalFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray document = file.readAll();
        QCOMPARE(document, HelpDocument());
        QVERIFY(document.contains("<title>Quorlix Help</title>"));
        // Private: no one but the owner may read or replace it.
        QCOMPARE(file.permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                         QFileDevice::WriteUser),
                 QFileDevice::Permissions());

        // The copy is reused, and written again once it has gone (say, a cleaner
        // emptied the temporary folder).
        auto* help = page->Item<QPushButton>(HelpControls::kHtmlHelpButton);
        help->click();
        QCOMPARE(recorder_.urls.last(), url);
        QVERIFY(QFile::remove(url.toLocalFile()));
        help->click();
        QCOMPARE(recorder_.urls.size(), 3);
        const QString second = recorder_.urls.last().toLocalFile();

        auto* website = page->Item<QPushButton>(HelpControls::kWebsiteButton);
        QVERIFY(!website->isEnabled());
        QTest::mouseClick(website, Qt::LeftButton);
        auto* email = page->Item<QPushButton>(HelpControls::kEmailButton);
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
            page->Item<QPushButton>(HelpControls::kHtmlHelpButton)->click();  // the copy goes nowhere else
            QVERIFY(recorder_.urls.isEmpty());
        }
        // The offscreen platform opens nothing and says so, as a desktop without
        // a browser or a mail program does.
        cleanup();
        for (int id : {HelpControls::kHtmlHelpButton, HelpControls::kEmailButton}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("openDocument|openUrl")));
            page->Item<QPushButton>(id)->click();
        }
        const QStringList texts = messages.Texts();
        QCOMPARE(texts.size(), 3);
        const char* heads[] = {"Unable To Write The Help Document!", "Unable To Start A Web Browser!",
                               "Unable To Start An Email Program!"};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(texts[i].startsWith(QLatin1String(heads[i])), qPrintable(texts[i]));
        // The browser's message names the copy, so the user can open it by hand.
        QVERIFY(QFileInfo(texts[1].section(QLatin1Char('\n'), -1)).isReadable());
    }

    void helpDocumentIsValidAndEveryLinkResolves()
    {
        const QByteArray bytes = HelpDocument();
        QVERIFY(bytes.startsWith("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\""));
        QVERIFY(bytes.contains("content=\"text/html; charset=ISO-8859-1\""));
        const QString tidy = QStandardPaths::findExecutable(QStringLiteral("tidy"));
        QVERIFY2(!tidy.isEmpty(), "tidy is not installed (scripts/packages.txt lists it)");
        // Exit status 0: neither errors nor warnings. -latin1 also warns of C1
        // control bytes, where stray UTF-8 would show.
        QProcess process;
        process.start(tidy, {QStringLiteral("-q"), QStringLiteral("-errors"), QStringLiteral("-latin1")});
        QVERIFY(process.waitForStarted() && process.write(bytes) == bytes.size());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        const QString report = QString::fromLocal8Bit(process.readAllStandardError() + process.readAllStandardOutput());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qPrintable(report));
        QVERIFY2(report.trimmed().isEmpty(), qPrintable(report));

        const QString html = QString::fromLatin1(bytes);
        const qsizetype firstSection = html.indexOf(QStringLiteral("<a name=\"welcome\">"));
        QVERIFY(firstSection > 0);
        QCOMPARE(Captures(QStringLiteral("href=\"#([^\"]*)\""), html.left(firstSection)), kContents);
        QStringList anchors = Captures(QStringLiteral("\\s(?:name|id)=\"([^\"]*)\""), html);
        QCOMPARE(anchors.removeDuplicates(), 0);
        for (const QString& target : Captures(QStringLiteral("href=\"([^\"]*)\""), html))
            QVERIFY2(target.startsWith(QLatin1Char('#')) && anchors.contains(target.mid(1)), qPrintable(target));

        // The helper's group and grant, the licence and the disclaimer as the
        // About page words them, and the rights notice.
        const QString text = PlainText(html);
        QStringList words = {"sudo usermod -aG quorlix $USER", "root:quorlix",
                             "sudo scripts/setup-helper.sh build/release/src/quorlix-netcap", "Copyright (c)"};
        for (const std::string& about : {AboutLicenceText(), AboutDisclaimerText()})
            words << QString::fromStdString(about).split(QStringLiteral("\r\n"));
        for (const QString& line : words)
            QVERIFY2(text.contains(line.simplified()), qPrintable(line));
    }

private:
    UrlRecorder recorder_;
};

QTEST_MAIN(AboutHelpTest)
#include "about_help_test.moc"
