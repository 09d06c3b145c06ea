#include "tcpterm/TerminalSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QSocketNotifier>

#include "net/ByteText.h"
#include "os/SocketIo.h"
#include "ui/OutputPane.h"

namespace {

// How much one read report may take from the socket before the event loop
// gets its turn again; the rest stays readable and reports again.
constexpr std::size_t kReadBudget = 512 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

// Pace of showing a flood: at least this long between two updates of the
// pane, and at least twice as long as the last update took.
constexpr int kMinShowGapMs = 25;
constexpr int kMaxShowGapMs = 500;

constexpr int kLookupStarting = -2;  // lookupId_ while lookupHost has not yet returned

sockaddr_in Ipv4(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

}  // namespace

TerminalSocket::TerminalSocket(QObject* parent) : QObject(parent)
{
    showTimer_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, &TerminalSocket::FlushReceived);
}

void TerminalSocket::SetOutput(OutputPane* pane, QLabel* status)
{
    pane_ = pane;
    status_ = status;
}

TerminalSocket::State TerminalSocket::CurrentState() const
{
    if (!fd_.Valid())
        return State::Closed;
    if (listening_)
        return State::Listening;
    return connecting_ ? State::Connecting : State::Connected;
}

void TerminalSocket::SetStatus(const char* text)
{
    if (status_)
        status_->setText(QString::fromLatin1(text));
}

bool TerminalSocket::Create()
{
    if (fd_.Valid())
        return false;
    fd_ = OpenSocket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP);
    if (!fd_.Valid())
        return false;
    MakeNotifiers();
    return true;
}

void TerminalSocket::MakeNotifiers()
{
    readNotifier_ = new QSocketNotifier(fd_.Get(), QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &TerminalSocket::OnReadable);
    writeNotifier_ = new QSocketNotifier(fd_.Get(), QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &TerminalSocket::OnWritable);
    // Nothing is wanted from a new socket until it listens or connects.
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
}

void TerminalSocket::DropNotifiers()
{
    // A notifier may be the one whose report is running: let the loop delete it.
    for (QSocketNotifier** n : {&readNotifier_, &writeNotifier_}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
}

void TerminalSocket::Close()
{
    // A lookup under way is left to finish on its own and its answer ignored:
    // the resolver cannot be interrupted anyway, and giving it up through
    // abortHostLookup loses the answer's call object.
    lookupId_ = -1;
    FlushReceived();  // what arrived before the close is shown, always
    DropNotifiers();
    fd_.Reset();
    listening_ = false;
    connecting_ = false;
    outgoing_.clear();
    outgoingSent_ = 0;
}

void TerminalSocket::Connect(const std::string& host, std::uint16_t port)
{
    if (!fd_.Valid())
        return;
    connecting_ = true;
    port_ = port;
    in_addr dotted{};
    if (inet_aton(host.c_str(), &dotted)) {
        StartConnect(dotted.s_addr);
        return;
    }
    lookupId_ = kLookupStarting;  // an answer given before lookupHost returns still counts
    const int id = QHostInfo::lookupHost(QString::fromStdString(host), this, &TerminalSocket::OnLookedUp);
    if (lookupId_ == kLookupStarting)
        lookupId_ = id;
}

void TerminalSocket::OnLookedUp(const QHostInfo& info)
{
    if (lookupId_ == -1 || (lookupId_ != kLookupStarting && info.lookupId() != lookupId_) || !fd_.Valid())
        return;  // a lookup given up by Close
    lookupId_ = -1;
    for (const QHostAddress& address : info.addresses()) {
        bool isIpv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIpv4);
        if (isIpv4) {
            StartConnect(htonl(ipv4));
            return;
        }
    }
    Close();
    SetStatus("Unable To Connect To Host!");
}

void TerminalSocket::StartConnect(std::uint32_t address)
{
    const sockaddr_in sa = Ipv4(address, port_);
    const int rc = ::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (rc == 0 || errno == EINPROGRESS || errno == EINTR) {
        // Done or under way (an interrupted connect goes on by itself): the
        // socket turns writable when the outcome is known.
        writeNotifier_->setEnabled(true);
        return;
    }
    const int error = errno;
    if (error == ECONNREFUSED || error == ECONNRESET || error == ETIMEDOUT) {
        // The peer answered; the connection was refused rather than impossible.
        OnConnect(error);
        return;
    }
    Close();
    SetStatus("Unable To Connect To Host!");
}

bool TerminalSocket::Listen(std::uint16_t port)
{
    if (!fd_.Valid())
        return false;
    // A port left in TIME_WAIT by an earlier connection may be taken again;
    // one that another socket listens on may not.
    const int on = 1;
    ::setsockopt(fd_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = Ipv4(htonl(INADDR_ANY), port);
    if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0 || ::listen(fd_.Get(), 5) < 0) {
        Close();
        SetStatus("Unable To Listen!");
        return false;
    }
    listening_ = true;
    readNotifier_->setEnabled(true);
    return true;
}

void TerminalSocket::Send(std::string_view bytes)
{
    if (!fd_.Valid() || bytes.empty())
        return;
    outgoing_.append(bytes);
    if (CurrentState() != State::Connected)
        return;  // goes once connected
    WriteQueued();
}

void TerminalSocket::WriteQueued()
{
    while (outgoingSent_ < outgoing_.size()) {
        const ssize_t n = ::send(fd_.Get(), outgoing_.data() + outgoingSent_, outgoing_.size() - outgoingSent_,
                                 MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                ReportSocketError();
                return;
            }
            break;
        }
        outgoingSent_ += size_t(n);
    }
    if (outgoingSent_ == outgoing_.size()) {
        outgoing_.clear();
        outgoingSent_ = 0;
    }
    UpdateWriteInterest();
}

void TerminalSocket::UpdateWriteInterest()
{
    if (writeNotifier_)
        writeNotifier_->setEnabled(connecting_ || (!listening_ && outgoingSent_ < outgoing_.size()));
}

void TerminalSocket::DiscardUnshown()
{
    showTimer_.stop();
    unshown_.clear();
}

void TerminalSocket::OnReadable()
{
    if (!fd_.Valid())
        return;
    if (listening_) {
        OnAccept(0);
        return;
    }
    OnReceive(0);
}

void TerminalSocket::OnWritable()
{
    if (!fd_.Valid())
        return;
    if (connecting_) {
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &error, &len) < 0)
            error = errno;
        OnConnect(error);
        return;
    }
    OnSend(0);
}

void TerminalSocket::OnConnect(int error)
{
    if (error) {
        ReportSocketError();
        return;
    }
    connecting_ = false;
    SetStatus("Connected");
    readNotifier_->setEnabled(true);
    WriteQueued();  // text given while connecting
}

void TerminalSocket::OnAccept(int error)
{
    if (error) {
        ReportSocketError();
        return;
    }
    const int peer = ::accept4(fd_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) {
        // The peer gave up before it was taken, or a spurious report: keep listening.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
            return;
        ReportSocketError();
        return;
    }
    // One peer only: the listening socket goes, later clients find nothing.
    Adopt(peer);
    SetStatus("Connected");
}

void TerminalSocket::Adopt(int fd)
{
    DropNotifiers();
    fd_.Reset(fd);
    listening_ = false;
    connecting_ = false;
    MakeNotifiers();
    readNotifier_->setEnabled(true);
    UpdateWriteInterest();  // text given while listening goes to this peer
}

void TerminalSocket::OnReceive(int error)
{
    if (error) {
        ReportSocketError();
        return;
    }
    char buffer[kReadChunk];
    std::size_t taken = 0;
    int closeError = -1;  // -1: still open; 0: the peer closed; else the error
    while (taken < kReadBudget) {
        const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            MaskUnprintable(buffer, size_t(n));
            unshown_.append(buffer, size_t(n));
            taken += size_t(n);
            continue;
        }
        if (n == 0) {
            closeError = 0;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            closeError = errno;
        }
        break;
    }
    // Faster than the pane can show: only the newest text can end up shown.
    if (unshown_.size() > kPaneBound.high)
        unshown_.erase(0, NewestTextOffset(unshown_, kPaneBound.keep));
    ShowReceived();
    if (closeError >= 0)
        OnClose(closeError);
}

void TerminalSocket::OnSend(int error)
{
    if (error) {
        ReportSocketError();
        return;
    }
    WriteQueued();
}

void TerminalSocket::OnClose(int error)
{
    if (error) {
        ReportSocketError();
        return;
    }
    Close();
    SetStatus("Closed");
}

void TerminalSocket::ReportSocketError()
{
    Close();
    SetStatus("Socket Error. Connection Closed.");
}

void TerminalSocket::ShowReceived()
{
    if (unshown_.empty() || showTimer_.isActive())
        return;
    const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : kMaxShowGapMs;
    if (since >= showGapMs_)
        FlushReceived();
    else
        showTimer_.start(int(showGapMs_ - since));
}

void TerminalSocket::FlushReceived()
{
    showTimer_.stop();
    if (unshown_.empty() || !pane_)
        return;
    QElapsedTimer cost;
    cost.start();
    const std::string& shown = pane_->RawText();
    if (auto from = PaneRestartOffset(shown, unshown_, kPaneBound)) {
        std::string text = *from < shown.size() ? shown.substr(*from) + unshown_
                                                : unshown_.substr(*from - shown.size());
        pane_->Clear();
        pane_->Append(text);
    } else {
        pane_->Append(unshown_);
    }
    unshown_.clear();
    sinceShown_.start();
    showGapMs_ = std::clamp(int(2 * cost.elapsed()), kMinShowGapMs, kMaxShowGapMs);
}
