#pragma once

#include <QTimer>
#include <string>

#include "privilege/SockDiag.h"
#include "ui/OutputPane.h"
#include "ui/ToolPage.h"

// The NetStat page: the host's TCP connections and UDP sockets as a text
// table, refreshed on demand or every 1 to 99 seconds, and the kill of the
// established connection whose line holds the caret. The page keeps no copy
// of the tables: the kill reads its connection back from the line's text.
// The tables are read and formatted on a thread of their own and printed in
// one step, so the window waits only for the pane, not for the kernel; a
// refresh asked for meanwhile runs once the one in flight has printed. The
// kill runs as a task too, as starting the privilege helper may take seconds.
// With Show Programs checked, the reading thread also finds the processes
// that hold each socket; the kill reads the line without them.
class NetStatPage : public ToolPage {
    Q_OBJECT
public:
    explicit NetStatPage(QWidget* parent);

    void RefreshConnections();
    void KillSelectedConnection();

    bool Refreshing() const { return reading_; }
    bool Killing() const { return killing_; }
    bool AutoRefreshActive() const { return autoRefresh_.isActive(); }
    int AutoRefreshPeriod() const { return autoRefresh_.interval(); }

private:
    void ShowTable(OutputPane::PreparedText text);
    void KillFinished(TcpKillResult result);
    void OnAutoRefreshSwitch();

    QTimer autoRefresh_;  // the refresh timer; runs while the page is hidden too
    bool reading_ = false;  // a read is in flight: its table is not printed yet
    bool again_ = false;    // a refresh was asked for while reading
    bool killing_ = false;  // a kill is in flight; the Kill button waits for it
};
