#pragma once

#include <QHash>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/MessageBox.h"
#include "ui/WorkerTask.h"

class QComboBox;
class QPushButton;
struct DialogTemplate;
struct HostTarget;
class OutputPane;

// One tool page: a child window built from its dialog template, whose controls
// are found by id. Enter and Escape never close or hide it; Enter presses the
// focused push button, else the page's default button.
class ToolPage : public QWidget {
    Q_OBJECT
public:
    ToolPage(int templateId, QWidget* parent);
    ToolPage(const DialogTemplate& dlg, QWidget* parent);
    ~ToolPage() override;  // abandons and joins its tasks

    template <class T>
    T* Item(int id) const
    {
        return qobject_cast<T*>(items_.value(id));
    }
    OutputPane* Pane() const { return pane_; }
    QPushButton* DefaultButton() const { return defaultButton_; }

    // The only ways text reaches the pane: at the end, as written, in view.
    void AppendOutput(std::string_view text);
    // Where a task's AppendOutput lands; a page that keeps a task's text
    // from its pane at times overrides it.
    virtual void AppendTaskOutput(const std::string& text) { AppendOutput(text); }
    // Empties the pane and repaints it at once.
    void ClearOutput();
    // Inserts text as the first entry unless an entry equal to it, ignoring
    // case, is already listed; an existing entry does not move.
    static void AddToHistory(QComboBox* combo, const QString& text);
    // The text of a control as UTF-8, at most maxChars - 1 characters, as read
    // into a bounded buffer with room for a terminator.
    std::string ControlText(int id, int maxChars) const;

    bool Message(const QString& text, MessageKind kind, const QString& detail = QString())
    {
        return ShowMessage(this, text, kind, detail);
    }

    // The QUERY/STOP pattern. A click while the button's task is not running
    // calls prepare, which reads the controls into the job's request, starts
    // the job it returns on a new thread and shows the running caption; a
    // click while it runs abandons the task after showing what it wrote so
    // far, shows the idle caption and appends abortText (if any) as the task's
    // last text. The task's own last event puts the idle caption back and
    // ends its run.
    struct TaskButton {
        int id;
        const char* idle = "QUERY";
        const char* running = "STOP";
        const char* abortText = "\tOperation Aborted";
    };
    void OnQueryButton(const TaskButton& button, const std::function<WorkerTask::Job()>& prepare);
    bool TaskRunning(const TaskButton& button) const;

    // Starts job on a thread of its own for a page that handles its buttons
    // itself: nothing of the page changes here, and the job's end sets no
    // caption. The page's task list owns it, so the window's close abandons and
    // joins it with the rest; the page may Cancel() or Abandon() it through the
    // handle meanwhile. Empty, after "Unable To Create Thread!", when no thread
    // could be created.
    std::weak_ptr<WorkerTask> StartTask(WorkerTask::Job job);

    // For the main window's close: abandon every task, then wait for them.
    // Pages with work of their own beyond WorkerTasks extend these.
    virtual void AbandonTasks();
    virtual void JoinTasks();
    // Whether JoinTasks must wait for now: a task's event opened a message box
    // that is still open (see WorkerTask::InUiCall).
    bool TasksInUiCall() const;

    // A page that looks at hosts opens one named in another page's pane: it
    // fills the target in as a user would type it and starts as its QUERY
    // does. While it is Busy with a task of its own it is not interrupted:
    // false, and nothing changes.
    virtual bool OpenTarget(const HostTarget& target);
    virtual bool Busy() const { return false; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Build(const DialogTemplate& dlg);

    QHash<int, QWidget*> items_;
    QPushButton* defaultButton_ = nullptr;
    OutputPane* pane_ = nullptr;
    std::vector<std::shared_ptr<WorkerTask>> tasks_;  // running, abandoned or finished but not yet joined
    std::map<int, std::weak_ptr<WorkerTask>> buttonTasks_;  // each QUERY/STOP button's running task
};
