// The QUERY/STOP pattern and its worker tasks: ordered writes, STOP, two pages
// at once, and closing the window while tasks run.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>

#include "app/DialogTemplate.h"
#include "app/MainWindow.h"
#include "app/ToolPage.h"
#include "platform/PollWait.h"
#include "support/GuiTest.h"

namespace {

const char* kSlowTemplate = R"(dialog 901 "Slow:" 362 243
groupbox -1 "Slow:" 2 2 358 239
label -1 "Count:" 20 41 30 8
combobox 1011 "" 55 39 193 64 dropdown
button 1004 "QUERY" 260 39 45 12 default
edit 1001 "" 2 71 358 170 pane multiline readonly vscroll border
)";

const ToolPage::TaskButton kQuery{1004};

// A page whose task writes a numbered line every few milliseconds, the way
// the network tools write as they go.
class SlowPage : public ToolPage {
public:
    explicit SlowPage(QWidget* parent) : ToolPage(*ParseDialogTemplate(kSlowTemplate), parent)
    {
        connect(Item<QPushButton>(1004), &QPushButton::clicked, this, [this] { OnQueryButton(kQuery, Job()); });
    }

    std::atomic<int> finished{0};
    std::atomic<int> linesWritten{0};

private:
    WorkerTask::Job Job()
    {
        return [this](TaskContext& task) {
            const std::string text = task.ControlText(1011, 300);
            if (!text.empty()) {
                task.AddToHistory(1011, text);
                task.ClearOutput();
                const int lines = std::stoi(text);
                for (int i = 0; i < lines; ++i) {
                    if (SleepUnlessCancelled(&task.Token(), 5))
                        break;
                    task.AppendOutput("line " + std::to_string(i) + "\r\n");
                    ++linesWritten;
                }
            }
            ++finished;
        };
    }
};

QPushButton* Query(ToolPage* page)
{
    return page->Item<QPushButton>(1004);
}

void SetInput(ToolPage* page, const char* text)
{
    page->Item<QComboBox>(1011)->setEditText(QString::fromLatin1(text));
}

}  // namespace

class WorkerTaskTest : public QObject {
    Q_OBJECT
private slots:
    void taskWritesInOrderAndPutsTheCaptionBack()
    {
        QWidget host;
        auto* page = new SlowPage(&host);
        SetInput(page, "20");
        Query(page)->click();
        QCOMPARE(Query(page)->text(), QStringLiteral("STOP"));
        QVERIFY(WaitForCaption(Query(page), QStringLiteral("QUERY")));
        std::string expected;
        for (int i = 0; i < 20; ++i)
            expected += "line " + std::to_string(i) + "\r\n";
        QCOMPARE(PaneText(page), expected);
        QCOMPARE(page->Item<QComboBox>(1011)->itemText(0), QStringLiteral("20"));
    }

    void emptyInputLeavesThePaneAlone()
    {
        QWidget host;
        auto* page = new SlowPage(&host);
        page->AppendOutput("kept");
        SetInput(page, "");
        Query(page)->click();
        QVERIFY(WaitForCaption(Query(page), QStringLiteral("QUERY")));
        QCOMPARE(PaneText(page), std::string("kept"));
        QCOMPARE(page->Item<QComboBox>(1011)->count(), 0);
    }

    void stopLeavesPartialOutputThenOperationAborted()
    {
        QWidget host;
        auto* page = new SlowPage(&host);
        SetInput(page, "100000");
        Query(page)->click();
        QVERIFY(QTest::qWaitFor([&] { return page->linesWritten >= 3; }, 10000));
        Query(page)->click();  // STOP
        QCOMPARE(Query(page)->text(), QStringLiteral("QUERY"));
        const std::string atStop = PaneText(page);
        QVERIFY(atStop.size() > 3 * 8);
        QVERIFY(atStop.ends_with("\r\n\tOperation Aborted"));

        // The abandoned task ends promptly, and nothing of it reaches the page.
        QVERIFY(QTest::qWaitFor([&] { return page->finished == 1; }, 5000));
        QTest::qWait(50);
        QCOMPARE(PaneText(page), atStop);
        QCOMPARE(Query(page)->text(), QStringLiteral("QUERY"));

        // A new task starts at once on the same page.
        SetInput(page, "2");
        Query(page)->click();
        QVERIFY(WaitForCaption(Query(page), QStringLiteral("QUERY")));
        QCOMPARE(PaneText(page), std::string("line 0\r\nline 1\r\n"));
    }

    void twoPagesRunSideBySide()
    {
        QWidget host;
        auto* first = new SlowPage(&host);
        auto* second = new SlowPage(&host);
        SetInput(first, "30");
        SetInput(second, "40");
        Query(first)->click();
        Query(second)->click();
        QVERIFY(WaitForCaption(Query(first), QStringLiteral("QUERY")));
        QVERIFY(WaitForCaption(Query(second), QStringLiteral("QUERY")));
        const std::string one = PaneText(first), two = PaneText(second);
        QCOMPARE(std::count(one.begin(), one.end(), '\n'), 30);
        QCOMPARE(std::count(two.begin(), two.end(), '\n'), 40);
        QVERIFY(two.ends_with("line 39\r\n"));
    }

    void threadThatCannotStartIsReported()
    {
        QWidget host;
        auto* page = new SlowPage(&host);
        MessageRecorder messages;
        WorkerTask::threadGate = [] { return false; };
        SetInput(page, "5");
        Query(page)->click();
        WorkerTask::threadGate = nullptr;
        QCOMPARE(Query(page)->text(), QStringLiteral("QUERY"));
        QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Unable To Create Thread!")});
        QCOMPARE(messages.Messages()[0].kind, MessageKind::Failure);
    }

    void closingTheWindowWithTasksInFlightEndsCleanly()
    {
        // A task stopped by STOP and still winding down, one running, and one
        // blocked in a write to the page: the close waits for all three.
        auto* host = new QWidget;
        auto* a = new SlowPage(host);
        auto* b = new SlowPage(host);
        auto* c = new SlowPage(host);
        host->show();
        SetInput(a, "100000");
        SetInput(b, "100000");
        SetInput(c, "100000");
        Query(a)->click();
        Query(b)->click();
        Query(c)->click();
        QVERIFY(QTest::qWaitFor([&] { return a->linesWritten > 0 && b->linesWritten > 0; }, 10000));
        Query(a)->click();
        const auto start = std::chrono::steady_clock::now();
        delete host;  // pages abandon and join their tasks
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    }

    void mainWindowCloseAbandonsAndWaitsForTasks()
    {
        MainWindow window(false);
        window.show();
        auto* page = new SlowPage(window.Page(3));
        SetInput(page, "100000");
        Query(page)->click();
        QVERIFY(QTest::qWaitFor([&] { return page->linesWritten > 0; }, 10000));
        QVERIFY(window.close());
        QCOMPARE(page->finished.load(), 1);  // ended and joined before the close returned
        QCOMPARE(Query(page)->text(), QStringLiteral("STOP"));  // nothing of it ran after
    }
};

QTEST_MAIN(WorkerTaskTest)
#include "worker_task_test.moc"
