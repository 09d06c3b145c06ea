#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/IpAddress.h"
#include "os/Fd.h"
#include "tcpterm/TerminalText.h"

class OutputPane;
class QHostInfo;
class QLabel;
class QSocketNotifier;

// The TCP Socket page's one connection: a non-blocking stream socket, IPv4 or
// IPv6 as the address to reach asks, dual-stack while listening, whose readiness the event loop reports on the user-interface thread. The
// reports become the notification operations OnReceive, OnSend, OnAccept,
// OnConnect and OnClose, each given the event's error code (0 = success).
// Received text goes to the page's pane, the connection's state to its
// status line; there is no other state than the handle and what is still
// to be sent or shown.
class TerminalSocket : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Connecting, Listening, Connected };

    explicit TerminalSocket(QObject* parent = nullptr);

    // Where received text and the state are written; set once by the page.
    void SetOutput(OutputPane* pane, QLabel* status);

    bool Valid() const { return fd_.Valid(); }
    State CurrentState() const;

    // A new stream socket; false (nothing changed) when none can be made. One
    // to connect with is IPv4 until the address to reach is IPv6; one to
    // listen with takes IPv4 and IPv6 peers alike (IPv4 only on a host
    // without IPv6).
    bool Create(bool forListening = false);
    // Starts connecting the created socket to host and port. An IPv6 literal
    // (brackets and zone allowed) or a dotted address is used as it is; any
    // other name is looked up without blocking the event loop, and its IPv4
    // addresses are tried in turn, then its IPv6 ones, until one connects. The
    // outcome arrives as OnConnect; a host that cannot be looked up or a
    // connect that cannot even start closes the socket and says so.
    void Connect(const std::string& host, std::uint16_t port);
    // Binds the created socket to port on every local address and listens for
    // one peer. False, with the socket closed and the status saying so, when
    // the port cannot be had.
    bool Listen(std::uint16_t port);
    // The connected peer as address:port ([address]:port for IPv6, an IPv4
    // peer of the dual-stack listener dotted); empty without one. The status
    // line shows it as its tool tip.
    std::string PeerText() const;
    // Closes the handle if it is valid, after showing what was received.
    void Close();
    // Queues bytes to go to the peer; they are written as the socket takes
    // them, all of them, in order. Text given before the connection is up goes
    // once it is.
    void Send(std::string_view bytes);
    // Drops received text not yet shown (the pane is being emptied).
    void DiscardUnshown();

    void SetStatus(const char* text);

    // How much received text the pane keeps (see PaneBound).
    static constexpr PaneBound kPaneBound{512 * 1024, 1024 * 1024, 32 * 1024, 64 * 1024};

private:
    void OnReceive(int error);
    void OnSend(int error);
    void OnAccept(int error);
    void OnConnect(int error);
    void OnClose(int error);
    void ReportSocketError();

    void OnReadable();
    void OnWritable();
    void OnLookedUp(const QHostInfo& info);
    void TryAddresses(std::vector<IpAddress> addresses);
    // Starts connecting to the next address not yet tried; when none is left,
    // closes with "Unable To Connect To Host!".
    void ConnectNext();
    // A fresh socket of family in place of the current one; false when none.
    bool Reopen(int family);
    void ShowPeer();
    void Adopt(int fd);
    void MakeNotifiers();
    void DropNotifiers();
    // Writes what the socket takes of the queue; a failed write ends the connection.
    void WriteQueued();
    void UpdateWriteInterest();
    void ShowReceived();
    void FlushReceived();

    OutputPane* pane_ = nullptr;
    QLabel* status_ = nullptr;
    QString statusName_;  // the status line's own description, before a peer joins it

    Fd fd_;  // closed with the socket object
    bool listening_ = false;
    bool connecting_ = false;
    int lookupId_ = -1;  // the lookup whose answer is awaited, -1 for none
    std::uint16_t port_ = 0;
    int family_ = AF_INET;
    std::vector<IpAddress> addresses_;  // to connect to, in order; next_ of them tried
    std::size_t next_ = 0;
    IpAddress peer_;
    std::uint16_t peerPort_ = 0;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;

    std::string outgoing_;  // queued for the peer; outgoingSent_ bytes of it are gone
    std::size_t outgoingSent_ = 0;

    // Received text waits here until the next showing: at once when the pane
    // was last updated long enough ago, else when the timer fires, so a flood
    // is shown at a steady pace instead of once per read.
    std::string unshown_;
    QTimer showTimer_;
    QElapsedTimer sinceShown_;
    int showGapMs_ = 0;
};
