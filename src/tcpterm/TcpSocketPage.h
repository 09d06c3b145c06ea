#pragma once

#include "tcpterm/TerminalSocket.h"
#include "ui/ToolPage.h"

// The TCP Socket page: a manual TCP client (Connect) or a server for one peer
// (Listen). What the peer sends shows in the pane, Send... sends a typed text,
// and the status line under the pane tells the state of the connection. All
// of it runs on the user-interface thread.
class TcpSocketPage : public ToolPage {
    Q_OBJECT
public:
    explicit TcpSocketPage(QWidget* parent);

    TerminalSocket& Socket() { return socket_; }

    // Fills in Host, and Port where the target has one; connecting stays the user's to do.
    bool OpenTarget(const HostTarget& target) override;
    // A connection, a connect under way or a listener.
    bool Busy() const override;

    // The window is closing: the connection goes with it.
    void AbandonTasks() override;

private:
    void OnConnectButton();
    void OnListenButton();
    void OnCloseButton();
    void OnClearOutput();
    void OnSendButton();
    // The port box's port, with a fresh socket for it; 0 once the user has been told why not.
    int PrepareSocket(bool forListening);

    TerminalSocket socket_;
};
