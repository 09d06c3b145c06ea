// The QUERY/STOP pattern and its worker tasks: ordered writes, STOP, two pages
// at once, tasks a page starts itself, cancel and abandon, and closing the
// window while tasks run.
#include <QComboBox>
#include <QPushButton>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <atomic>

#include "os/PollWait.h"
#include "shell/MainWindow.h"
#include "support/GuiTest.h"
#include "ui/ToolPage.h"

namespace {

const char* kSlowTemplate = R"(dialog 901 "Slow:" 362 243
combobox 1011 "" 55 39 193 64 dropdown
button 1004 "QUERY" 260 39 45 12 default
edit 1001 "" 2 71 358 170 pane multiline readonly vscroll border
)";

// A page whose QUERY task writes as many numbered lines as its combo box says,
// one every few milliseconds, the way the network tools write as they go.
class SlowPage : public ToolPage {
public:
    SlowPage(QWidget* parent, int lines) : ToolPage(TemplateFromText(kSlowTemplate), parent)
    {
        SetLines(lines);
        connect(Query(), &QPushButton::clicked, this, [this] {
            OnQueryButton({1004}, [this]() -> WorkerTask::Job {
                const std::string text = ControlText(1011, 300);
                AddToHistory(Item<QComboBox>(1011), QString::fromStdString(text));
                return [this, n = std::stoi(text)](TaskContext& t) { Run(t, n); };
            });
        });
    }
    QPushButton* Query() const { return Item<QPushButton>(1004); }
    void SetLines(int lines) { Item<QComboBox>(1011)->setEditText(QString::number(lines)); }

    // A task of the page's own, the button left to the page: it reports a
    // failure after waitMs, or that it was cancelled.
    std::weak_ptr<WorkerTask> StartOwn(int waitMs)
    {
        return StartTask([this, waitMs](TaskContext& task) {
            task.AppendOutput(SleepUnlessCancelled(&task.Token(), waitMs) ? "Cancelled." : "Socket Error Encountered!");
            ++finished;
        });
    }

    std::atomic<int> finished{0};
    std::atomic<int> written{0};

private:
    void Run(TaskContext& task, int n)
    {
        task.ClearOutput();
        for (int i = 0; i < n && !SleepUnlessCancelled(&task.Token(), 5); ++i) {
            task.AppendOutput("line " + std::to_string(i) + "\r\n");
            ++written;
        }
        ++finished;
    }
};

std::string Lines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    return text;
}

}  // namespace

class WorkerTaskTest : public QObject {
    Q_OBJECT
private slots:
    void twoPagesRunSideBySideWritingInOrder()
    {
        QWidget host;
        auto* first = new SlowPage(&host, 30);
        auto* second = new SlowPage(&host, 40);
        {
            MessageRecorder messages;
            WorkerTask::threadGate = [] { return false; };
            first->Query()->click();
            WorkerTask::threadGate = nullptr;
            QCOMPARE(first->Query()->text(), QStringLiteral("QUERY"));
            QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Unable To Create Thread!")});
            QCOMPARE(messages.Messages()[0].kind, MessageKind::Failure);
        }
        first->Query()->click();
        second->Query()->click();
        QCOMPARE(first->Query()->text(), QStringLiteral("STOP"));
        QCOMPARE(AccessibleName(first->Query()), QStringLiteral("STOP"));  // the name follows the caption
        QVERIFY(WaitForCaption(first->Query(), QStringLiteral("QUERY")));
        QVERIFY(WaitForCaption(second->Query(), QStringLiteral("QUERY")));
        QCOMPARE(PaneText(first), Lines(30));
        QCOMPARE(PaneText(second), Lines(40));
        QCOMPARE(first->Item<QComboBox>(1011)->itemText(0), QStringLiteral("30"));
    }

    void stopAbandonsButCancelLetsTheTaskWrite()
    {
        QWidget host;
        auto* page = new SlowPage(&host, 100000);
        page->Query()->click();
        QVERIFY(QTest::qWaitFor([&] { return page->written >= 3; }, 10000));
        page->Query()->click();  // STOP
        QCOMPARE(page->Query()->text(), QStringLiteral("QUERY"));
        QCOMPARE(AccessibleName(page->Query()), QStringLiteral("QUERY"));
        const std::string atStop = PaneText(page);
        const auto lines = int(std::count(atStop.begin(), atStop.end(), '\n'));
        QVERIFY(lines >= 3);
        QCOMPARE(atStop, Lines(lines) + "\tOperation Aborted");

        // The abandoned task ends promptly, and nothing of it reaches the page.
        QVERIFY(QTest::qWaitFor([&] { return page->finished == 1; }, 5000));
        QCoreApplication::processEvents();
        QCOMPARE(PaneText(page), atStop);

        page->SetLines(2);  // a new task starts at once
        page->Query()->click();
        QVERIFY(WaitForCaption(page->Query(), QStringLiteral("QUERY")));
        QCOMPARE(PaneText(page), Lines(2));

        // A task the page starts itself leaves the caption to the page.
        page->Query()->setText(QStringLiteral("STOP"));
        page->ClearOutput();
        page->StartOwn(1);
        QVERIFY(QTest::qWaitFor([&] { return page->finished == 3; }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(PaneText(page), "Socket Error Encountered!");
        QCOMPARE(page->Query()->text(), QStringLiteral("STOP"));

        // Cancel wakes the task's wait and its report still arrives; abandon drops it.
        for (bool abandon : {false, true}) {
            page->ClearOutput();
            const int before = page->finished;
            auto task = page->StartOwn(60000).lock();
            QVERIFY(task);
            abandon ? task->Abandon() : task->Cancel();
            task.reset();
            QVERIFY(QTest::qWaitFor([&] { return page->finished == before + 1; }, 5000));
            QCoreApplication::processEvents();
            QCOMPARE(PaneText(page), abandon ? "" : "Cancelled.");
        }
    }

    void aNestedLoopHoldsBackTheTasksLaterEvents()
    {
        // An event opens a nested event loop (as a message box does): the
        // task's later events wait until it has returned. The window closed
        // meanwhile comes back until then, and what is left is dropped.
        MainWindow window(false);
        window.show();
        auto* page = new SlowPage(window.Page(3), 1);
        std::atomic<bool> posted = false;
        std::string inside = "-";
        bool closedInside = true;
        page->StartTask([&](TaskContext& task) {
            task.Post([&] {
                QVERIFY(QTest::qWaitFor([&] { return posted.load(); }, 5000));
                QTest::qWait(20);  // turns of the loop in which a later event could run
                inside = PaneText(page);
                closedInside = window.close();
            });
            task.AppendOutput("after");
            posted = true;
        });
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(inside, "");
        QVERIFY(!closedInside);
        QCOMPARE(PaneText(page), "");
    }

    void closingTheWindowWithTasksInFlightEndsCleanly()
    {
        // One task stopped and still winding down, two running and one the
        // page started itself: the close waits for all four.
        MainWindow window(false);
        window.show();
        SlowPage* pages[3];
        for (int i = 0; i < 3; ++i) {
            pages[i] = new SlowPage(window.Page(3 + i), 100000);
            pages[i]->Query()->click();
        }
        pages[2]->StartOwn(60000);
        QVERIFY(QTest::qWaitFor([&] { return pages[0]->written > 0 && pages[1]->written > 0; }, 10000));
        pages[0]->Query()->click();
        QVERIFY(window.close());
        for (SlowPage* page : pages)  // ended and joined before the close returned
            QCOMPARE(page->finished.load(), page == pages[2] ? 2 : 1);
        QCOMPARE(pages[1]->Query()->text(), QStringLiteral("STOP"));  // nothing of it ran after
    }
};

QTEST_MAIN(WorkerTaskTest)
#include "worker_task_test.moc"
