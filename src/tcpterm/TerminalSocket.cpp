#include "tcpterm/TerminalSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// A dual-stack listener sees an IPv4 peer as ::ffff:a.b.c.d; it shows dotted.
IpAddress WithoutV4Mapping(const IpAddress& address)
{
    const in6_addr v6 = address.V6();
    if (!address.IsV6() || !IN6_IS_ADDR_V4MAPPED(&v6))
        return address;
    std::uint32_t v4 = 0;
    std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
    return IpAddress::V4(v4);
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

bool TerminalSocket::Create(bool forListening)
{
    if (fd_.Valid())
        return false;
    family_ = AF_INET;
    if (forListening) {
        // One socket for both families; a host without IPv6 gets none and listens on IPv4.
        fd_ = OpenSocket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP);
        const int off = 0;
        if (fd_.Valid() && ::setsockopt(fd_.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0)
            family_ = AF_INET6;
        else
            fd_.Reset();
    }
    if (!fd_.Valid())
        fd_ = OpenSocket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP);
    if (!fd_.Valid())
        return false;
    MakeNotifiers();
    return true;
}

bool TerminalSocket::Reopen(int family)
{
    DropNotifiers();
    fd_ = OpenSocket(family, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP);
    family_ = family;
    if (!fd_.Valid())
        return false;
    MakeNotifiers();
    return true;
}

std::string TerminalSocket::PeerText() const
{
    return peer_.IsNone() ? std::string() : IpPortText(peer_, peerPort_);
}

void TerminalSocket::ShowPeer()
{
    if (!status_)
        return;
    const QString peer = QString::fromStdString(PeerText());
    status_->setToolTip(peer);
    // Screen readers take the description before the tool tip: the peer joins it.
    if (statusName_.isNull())
        statusName_ = status_->accessibleDescription();
    status_->setAccessibleDescription(peer.isEmpty() ? statusName_ : statusName_ + ' ' + peer);
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
    addresses_.clear();
    next_ = 0;
    peer_ = {};
    ShowPeer();
}

void TerminalSocket::Connect(const std::string& host, std::uint16_t port)
{
    if (!fd_.Valid())
        return;
    connecting_ = true;
    port_ = port;
    in_addr dotted{};
    if (auto literal = ParseIpv6Literal(host)) {
        TryAddresses({*literal});
        return;
    }
    if (inet_aton(host.c_str(), &dotted)) {
        TryAddresses({IpAddress::V4(dotted.s_addr)});
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
    std::vector<IpAddress> addresses;
    for (const QHostAddress& address : info.addresses()) {
        bool isIpv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIpv4);
        if (isIpv4)
            addresses.push_back(IpAddress::V4(htonl(ipv4)));
        else if (auto v6 = ParseIpv6Literal(address.toString().toStdString()))
            addresses.push_back(*v6);
    }
    TryAddresses(std::move(addresses));
}

void TerminalSocket::TryAddresses(std::vector<IpAddress> addresses)
{
    // IPv4 first, as a name with both has always been reached.
    std::stable_partition(addresses.begin(), addresses.end(), [](const IpAddress& a) { return a.IsV4(); });
    addresses_ = std::move(addresses);
    next_ = 0;
    ConnectNext();
}

void TerminalSocket::ConnectNext()
{
    while (next_ < addresses_.size()) {
        const IpAddress& to = addresses_[next_++];
        // A socket whose connect failed is not used again.
        if ((next_ > 1 || to.Family() != family_) && !Reopen(to.Family()))
            break;
        sockaddr_storage sa{};
        const socklen_t length = to.ToSockaddr(port_, sa);
        const int rc = ::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&sa), length);
        if (rc == 0 || errno == EINPROGRESS || errno == EINTR) {
            // Done or under way (an interrupted connect goes on by itself): the
            // socket turns writable when the outcome is known.
            peer_ = to;
            peerPort_ = port_;
            writeNotifier_->setEnabled(true);
            return;
        }
        const int error = errno;
        if ((error == ECONNREFUSED || error == ECONNRESET || error == ETIMEDOUT) && next_ == addresses_.size()) {
            // The peer answered; the connection was refused rather than impossible.
            OnConnect(error);
            return;
        }
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
    sockaddr_storage sa{};
    const socklen_t length = (family_ == AF_INET6 ? IpAddress::V6(in6addr_any) : IpAddress::V4(htonl(INADDR_ANY)))
                                 .ToSockaddr(port, sa);
    if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&sa), length) < 0 || ::listen(fd_.Get(), 5) < 0) {
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
        if (error && next_ < addresses_.size())
            ConnectNext();  // the next address of the name
        else
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
    ShowPeer();
    readNotifier_->setEnabled(true);
    WriteQueued();  // text given while connecting
}

void TerminalSocket::OnAccept(int error)
{
    if (error) {
        ReportSocketError();
        return;
    }
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const int peer = ::accept4(fd_.Get(), reinterpret_cast<sockaddr*>(&from), &fromLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) {
        // The peer gave up before it was taken, or a spurious report: keep listening.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
            return;
        ReportSocketError();
        return;
    }
    // One peer only: the listening socket goes, later clients find nothing.
    Adopt(peer);
    peer_ = WithoutV4Mapping(IpAddress::FromSockaddr(reinterpret_cast<const sockaddr*>(&from), fromLength, &peerPort_));
    SetStatus("Connected");
    ShowPeer();
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
