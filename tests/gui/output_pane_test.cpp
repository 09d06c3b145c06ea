// A whole text made ready on another thread and swapped into the pane: the
// same bytes, display, limit and signal as a replace on the pane's own thread,
// the pane's font and tab stops kept, and no document left behind.
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <thread>

#include "app/OutputPane.h"

class OutputPaneTest : public QObject {
    Q_OBJECT
private slots:
    void textPreparedOnAnotherThreadIsShownAsWritten_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("reports");
        QTest::newRow("no limit") << 0 << QStringLiteral("a\tb\r\r\nc\xE9\r\n") << 0;
        QTest::newRow("within the limit") << 100 << QStringLiteral("a\tb\r\r\nc\xE9\r\n") << 0;
        QTest::newRow("cut at the limit") << 6 << QStringLiteral("a\tb\r\r\n") << 1;
    }

    void textPreparedOnAnotherThreadIsShownAsWritten()
    {
        QFETCH(int, limit);
        QFETCH(QString, kept);
        QFETCH(int, reports);
        OutputPane pane;
        pane.setFont(QFont(QStringLiteral("Monospace"), 17));
        pane.SetTextLimit(size_t(limit));
        const qreal tabStops = pane.tabStopDistance();
        QSignalSpy full(&pane, &OutputPane::TextLimitReached);
        for (int round = 0; round < 3; ++round) {
            OutputPane::PreparedText text;
            std::thread([&] { text = OutputPane::PrepareText("a\tb\r\r\nc\xE9\r\n"); }).join();
            pane.ReplaceText(std::move(text));
        }
        QCOMPARE(QString::fromLatin1(pane.RawText()), kept);
        QCOMPARE(pane.toPlainText(), QString(kept).remove(QLatin1Char('\r')));
        QCOMPARE(pane.document()->defaultFont().pointSize(), 17);
        QCOMPARE(pane.tabStopDistance(), tabStops);
        QCOMPARE(pane.findChildren<QTextDocument*>().size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(full.count(), reports * 3);
    }
};

QTEST_MAIN(OutputPaneTest)
#include "output_pane_test.moc"
