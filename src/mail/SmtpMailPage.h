#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ui/ToolPage.h"

// Sends one message, with at most one attached file, to one recipient's mail
// exchanger. While a send runs the inputs are locked and Send reads Cancel;
// everything it reports goes to the status line.
class SmtpMailPage : public ToolPage {
    Q_OBJECT
public:
    explicit SmtpMailPage(QWidget* parent);
    ~SmtpMailPage() override;

    // Enables or disables the inputs; the button reads "Send" or "Cancel".
    void SetSendingState(bool idle);

    // Also ends the waits after a send's end of data, which Cancel leaves.
    void AbandonTasks() override;

private:
    class StatusSink;

    void OnSendButton();
    void OnChooseAttachment();
    void OnRemoveAttachment();
    void StartSend();

    struct Send {
        std::weak_ptr<WorkerTask> task;      // in the page's task list
        std::shared_ptr<CancelToken> close;  // cancelled when the window closes
    };
    std::vector<Send> sends_;     // those whose threads may still run, the latest last
    std::uint64_t latest_ = 0;    // the number of the latest send, whose texts the page shows
    bool sending_ = false;        // the inputs are locked and the button reads "Cancel"
};
