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

class HelpDocumentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QFile file(QStringLiteral(":/docs/help.html"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        bytes_ = file.readAll();
        html_ = QString::fromLatin1(bytes_);
    }

    void isValidHtml401TransitionalInLatin1()
    {
        QVERIFY(html_.startsWith(QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"")));
        QVERIFY(html_.contains(QStringLiteral("content=\"text/html; charset=ISO-8859-1\"")));
        const QString tidy = QStandardPaths::findExecutable(QStringLiteral("tidy"));
        QVERIFY2(!tidy.isEmpty(), "tidy is not installed (scripts/packages.txt lists it)");
        QTemporaryDir dir;
        QFile copy(dir.filePath(QStringLiteral("help.html")));
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(bytes_) == bytes_.size());
        copy.close();
        // Exit status 0: neither errors nor warnings (1 is warnings, 2 errors).
        // tidy -latin1 also warns of C1 control bytes, where stray UTF-8 would show.
        QProcess process;
        process.start(tidy, {QStringLiteral("-q"), QStringLiteral("-errors"), QStringLiteral("-latin1"), copy.fileName()});
        QVERIFY(process.waitForFinished(30000));
        const QString report = QString::fromLocal8Bit(process.readAllStandardError() + process.readAllStandardOutput());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qPrintable(report));
        QVERIFY2(report.trimmed().isEmpty(), qPrintable(report));
    }

    void contentsListAnchorsInOrderAndEveryLinkResolves()
    {
        QVERIFY(html_.contains(QStringLiteral("<a name=\"TOP\">")));
        const qsizetype firstSection = html_.indexOf(QStringLiteral("<a name=\"welcome\">"));
        QVERIFY(firstSection > 0);
        QCOMPARE(Captures(QStringLiteral("href=\"#([^\"]*)\""), html_.left(firstSection)), kContents);

        QStringList anchors = Captures(QStringLiteral("\\s(?:name|id)=\"([^\"]*)\""), html_);
        QCOMPARE(anchors.removeDuplicates(), 0);
        const QStringList links = Captures(QStringLiteral("href=\"([^\"]*)\""), html_);
        QVERIFY(links.size() > 2 * kContents.size());
        for (const QString& target : links) {
            QVERIFY2(target.startsWith(QLatin1Char('#')), qPrintable("a link out of the document: " + target));
            QVERIFY2(anchors.contains(target.mid(1)), qPrintable("no anchor for " + target));
        }
    }

    void sectionsHaveTheirHeadingsAndLinkBack()
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

    void licenceAndDisclaimerRepeatTheAboutTexts()
    {
        for (const auto& [name, text] : {std::pair{"licence", AboutLicenceText()}, {"disclaimer", AboutDisclaimerText()}}) {
            const QString section = PlainText(Section(QString::fromLatin1(name)));
            for (const QString& line : QString::fromStdString(text).split(QStringLiteral("\r\n")))
                QVERIFY2(section.contains(line.simplified()), qPrintable(line));
        }
        // The one-line rights notice follows the disclaimer.
        QVERIFY(PlainText(Section(QStringLiteral("disclaimer"))).contains(QStringLiteral("Copyright (c)")));
    }

private:
    // The text of the section that starts at anchor name, up to the next one.
    QString Section(const QString& name) const
    {
        const qsizetype start = html_.indexOf(QStringLiteral("<a name=\"%1\">").arg(name));
        if (start < 0)
            return {};
        const qsizetype next = html_.indexOf(QStringLiteral("<h2>"), start);
        return html_.mid(start, next < 0 ? -1 : next - start);
    }

    QByteArray bytes_;
    QString html_;
};

QTEST_MAIN(HelpDocumentTest)
#include "help_document_test.moc"
