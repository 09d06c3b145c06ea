// The embedded help document: valid HTML 4.01 Transitional in ISO-8859-1 (as
// Debian's tidy judges it), its contents in order, every internal link
// resolving, and the licence and disclaimer as the About page words them.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "app/AboutPage.h"

namespace {

const QStringList kContents = {"welcome", "requirements", "conn",   "whois", "dns",    "ping",    "trace",
                               "packet",  "tcp",          "netinfo", "smtp", "base64", "licence", "disclaimer"};
const QStringList kTools = {"conn", "whois", "dns", "ping", "trace", "packet", "tcp", "netinfo", "smtp", "base64"};

// Text content with tags dropped, the few entities the document uses decoded
// and white space collapsed, so that wording can be compared.
QString PlainText(QString html)
{
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    html.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    html.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    html.replace(QStringLiteral("&copy;"), QStringLiteral("(c)"));
    return html.simplified();
}

}  // namespace

class HelpDocumentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void declaresHtml401TransitionalInLatin1();
    void tidyFindsNoErrorsOrWarnings();
    void contentsListAnchorsInOrder();
    void everyInternalLinkResolves();
    void sectionsHaveTheirHeadingsAndLinkBack();
    void licenceAndDisclaimerRepeatTheAboutTexts();

private:
    // The text of the section that starts at anchor name, up to the next one.
    QString Section(const QString& name) const;

    QByteArray bytes_;
    QString html_;
};

void HelpDocumentTest::initTestCase()
{
    QFile file(QStringLiteral(":/docs/help.html"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    bytes_ = file.readAll();
    html_ = QString::fromLatin1(bytes_);
}

QString HelpDocumentTest::Section(const QString& name) const
{
    const qsizetype start = html_.indexOf(QStringLiteral("<a name=\"%1\">").arg(name));
    if (start < 0)
        return {};
    const qsizetype next = html_.indexOf(QStringLiteral("<h2>"), start);
    return html_.mid(start, next < 0 ? -1 : next - start);
}

void HelpDocumentTest::declaresHtml401TransitionalInLatin1()
{
    QVERIFY(html_.startsWith(QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"")));
    QVERIFY(html_.contains(QStringLiteral("content=\"text/html; charset=ISO-8859-1\"")));
    // Every byte is a character of ISO-8859-1: no C0 controls but white
    // space, no C1 controls (which is where stray UTF-8 would show).
    for (qsizetype i = 0; i < bytes_.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes_[i]);
        const bool ok = c == '\t' || c == '\n' || (c >= 0x20 && c <= 0x7E) || c >= 0xA0;
        QVERIFY2(ok, qPrintable(QStringLiteral("byte 0x%1 at offset %2").arg(c, 2, 16, QLatin1Char('0')).arg(i)));
    }
}

void HelpDocumentTest::tidyFindsNoErrorsOrWarnings()
{
    const QString tidy = QStandardPaths::findExecutable(QStringLiteral("tidy"));
    QVERIFY2(!tidy.isEmpty(), "tidy is not installed (scripts/packages.txt lists it)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile copy(dir.filePath(QStringLiteral("help.html")));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    QCOMPARE(copy.write(bytes_), bytes_.size());
    copy.close();

    // Exit status 0: neither errors nor warnings (1 is warnings, 2 errors).
    QProcess process;
    process.start(tidy, {QStringLiteral("-q"), QStringLiteral("-errors"), QStringLiteral("-latin1"), copy.fileName()});
    QVERIFY(process.waitForFinished(30000));
    const QString report = QString::fromLocal8Bit(process.readAllStandardError() + process.readAllStandardOutput());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qPrintable(report));
    QVERIFY2(report.trimmed().isEmpty(), qPrintable(report));
}

void HelpDocumentTest::contentsListAnchorsInOrder()
{
    QVERIFY(html_.contains(QStringLiteral("<a name=\"TOP\">")));
    const qsizetype firstSection = html_.indexOf(QStringLiteral("<a name=\"welcome\">"));
    QVERIFY(firstSection > 0);
    QStringList listed;
    auto links = QRegularExpression(QStringLiteral("href=\"#([^\"]*)\"")).globalMatch(html_.left(firstSection));
    while (links.hasNext())
        listed << links.next().captured(1);
    QCOMPARE(listed, kContents);
}

void HelpDocumentTest::everyInternalLinkResolves()
{
    QStringList anchors;
    auto names = QRegularExpression(QStringLiteral("\\s(?:name|id)=\"([^\"]*)\"")).globalMatch(html_);
    while (names.hasNext())
        anchors << names.next().captured(1);
    QCOMPARE(anchors.removeDuplicates(), 0);

    int internal = 0;
    auto links = QRegularExpression(QStringLiteral("href=\"([^\"]*)\"")).globalMatch(html_);
    while (links.hasNext()) {
        const QString target = links.next().captured(1);
        QVERIFY2(target.startsWith(QLatin1Char('#')), qPrintable("a link out of the document: " + target));
        QVERIFY2(anchors.contains(target.mid(1)), qPrintable("no anchor for " + target));
        ++internal;
    }
    QVERIFY(internal > 2 * kContents.size());
}

void HelpDocumentTest::sectionsHaveTheirHeadingsAndLinkBack()
{
    for (const QString& name : kContents) {
        const QString section = Section(name);
        QVERIFY2(!section.isEmpty(), qPrintable(name));
        QVERIFY2(section.contains(QStringLiteral("href=\"#TOP\"")), qPrintable(name + " links back to TOP"));
    }
    for (const QString& name : kTools) {
        const QString section = Section(name);
        const qsizetype description = section.indexOf(QStringLiteral("Description:"));
        const qsizetype usage = section.indexOf(QStringLiteral("Usage:"));
        const qsizetype remarks = section.indexOf(QStringLiteral("Remarks:"));
        QVERIFY2(description > 0 && usage > description && remarks > usage, qPrintable(name));
    }
    // What is particular to Linux: the helper's grant and the capture's limit.
    QVERIFY(PlainText(Section(QStringLiteral("requirements")))
                .contains(QStringLiteral("setcap cap_net_raw,cap_net_admin+ep /path/to/quorlix-netcap")));
    QVERIFY(PlainText(Section(QStringLiteral("packet"))).contains(QStringLiteral("1,000,000 characters")));
}

void HelpDocumentTest::licenceAndDisclaimerRepeatTheAboutTexts()
{
    const QString licence = PlainText(Section(QStringLiteral("licence")));
    const QString disclaimer = PlainText(Section(QStringLiteral("disclaimer")));
    for (const QString& line : QString::fromStdString(AboutLicenceText()).split(QStringLiteral("\r\n")))
        QVERIFY2(licence.contains(line.simplified()), qPrintable(line));
    for (const QString& line : QString::fromStdString(AboutDisclaimerText()).split(QStringLiteral("\r\n")))
        QVERIFY2(disclaimer.contains(line.simplified()), qPrintable(line));
    // The one-line rights notice follows the disclaimer.
    QVERIFY(disclaimer.contains(QStringLiteral("Copyright (c)")));
}

QTEST_MAIN(HelpDocumentTest)
#include "help_document_test.moc"
