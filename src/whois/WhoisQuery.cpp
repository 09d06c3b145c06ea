#include "whois/WhoisQuery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "net/HostAddress.h"
#include "net/IpAddress.h"
#include "net/ShellWords.h"
#include "os/CancelToken.h"
#include "os/PollWait.h"
#include "os/SocketIo.h"
#include "whois/WhoisServerTable.h"

using Clock = std::chrono::steady_clock;

namespace {

// A dotted host or an IPv6 literal as it stands; any other name through the
// resolver (its IPv4 addresses first, then its IPv6 ones), which the task's
// token and the deadline cut short.
std::vector<IpAddress> WhoisHostAddresses(const std::string& host, const CancelToken* token,
                                          Clock::time_point deadline)
{
    if (const auto literal = ParseIpLiteral(host))
        return {*literal};
    return ResolveHostAddresses(host.c_str(), AF_UNSPEC, token, deadline);
}

WhoisStatus Fail(WhoisOutput& output, WhoisStatus status)
{
    if (status != WhoisStatus::Ok && status != WhoisStatus::Cancelled)
        output.ShowFailure(status);
    return status;
}

bool Cancelled(const WhoisWaits& waits)
{
    return waits.token && waits.token->IsCancelled();
}

}  // namespace

std::string_view WhoisStatusText(WhoisStatus status)
{
    switch (status) {
    case WhoisStatus::Ok:
    case WhoisStatus::Cancelled:
        return {};
    case WhoisStatus::InvalidDomain:
        return "Invalid Domain Name. Not Domain Extension Specified!";
    case WhoisStatus::QueryTooLong:
        return "Query Too Long For Whois Server!";
    case WhoisStatus::SocketFailed:
        return "Unable To Create Socket!";
    case WhoisStatus::ConnectFailed:
        return "Unable To Connect To Whois Server!";
    case WhoisStatus::SendFailed:
        return "Unable To Send Query To Whois Server!";
    case WhoisStatus::ReceiveFailed:
        return "Socket Error!";
    case WhoisStatus::AnswerTooLong:
        return "Insufficient Memory!";
    }
    return {};
}

WhoisConnection::~WhoisConnection()
{
    Close();
}

void WhoisConnection::Close()
{
    if (!fd_.Valid())
        return;
    shutdown(fd_.Get(), SHUT_WR);
    fd_.Reset();
}

WhoisStatus WhoisConnection::Connect(const WhoisServer& server)
{
    Close();
    const auto deadline = Clock::now() + waits_.connectTimeout;
    if (server.port < 1 || server.port > 65535 || server.host.empty())
        return WhoisStatus::ConnectFailed;

    const std::vector<IpAddress> addresses = WhoisHostAddresses(server.host, waits_.token, deadline);
    if (Cancelled(waits_))
        return WhoisStatus::Cancelled;
    // Each address in turn until one takes the connection; none known is a failed connection.
    WhoisStatus status = WhoisStatus::ConnectFailed;
    for (const IpAddress& address : addresses) {
        fd_ = OpenTcpSocket(address.Family());
        if (!fd_.Valid()) {
            status = WhoisStatus::SocketFailed;
            continue;
        }
        const WaitResult result =
            ConnectToAddress(fd_.Get(), address, static_cast<std::uint16_t>(server.port), waits_.token, deadline);
        if (result == WaitResult::Ready)
            return WhoisStatus::Ok;
        Close();
        if (result == WaitResult::Cancelled)
            return WhoisStatus::Cancelled;
        status = WhoisStatus::ConnectFailed;
    }
    return status;
}

WhoisStatus WhoisConnection::Send(std::string_view line)
{
    if (!fd_.Valid())
        return WhoisStatus::SendFailed;
    // One answer, from the query on, has its overall limit beside the limit of each silence.
    answerDeadline_ = Clock::now() + waits_.answerLimit;
    const WaitResult sent = SendAll(fd_.Get(), line, waits_.token, waits_.answerTimeout, answerDeadline_);
    if (sent == WaitResult::Ready)
        return WhoisStatus::Ok;
    Close();
    return sent == WaitResult::Cancelled ? WhoisStatus::Cancelled : WhoisStatus::SendFailed;
}

WhoisStatus WhoisConnection::Receive(std::string& answer)
{
    answer.clear();
    if (!fd_.Valid())
        return WhoisStatus::ReceiveFailed;
    // The answer fills the area from its start; once it is full the answer is
    // refused whatever else the server would send.
    std::string area(kWhoisAnswerSize, '\0');
    std::size_t received = 0;
    WhoisStatus status = WhoisStatus::Ok;
    while (received < area.size()) {
        const WaitResult wait = WaitForFd(fd_.Get(), POLLIN, waits_.token, WaitEnd(waits_.answerTimeout, answerDeadline_));
        if (wait == WaitResult::Cancelled) {
            status = WhoisStatus::Cancelled;
            break;
        }
        if (wait != WaitResult::Ready) {
            status = WhoisStatus::ReceiveFailed;
            break;
        }
        const ssize_t n = recv(fd_.Get(), area.data() + received, area.size() - received, 0);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            status = WhoisStatus::ReceiveFailed;
            break;
        }
        received += static_cast<std::size_t>(n);
    }
    Close();
    if (status == WhoisStatus::Ok && received >= area.size())
        status = WhoisStatus::AnswerTooLong;
    if (status == WhoisStatus::Ok) {
        area.resize(received);
        answer = std::move(area);
    }
    return status;
}

WhoisStatus QueryDomainWhois(std::string_view query, const std::optional<std::string>& chosenServer,
                             WhoisOutput& output, const WhoisWaits& waits, int port)
{
    WhoisServer server;
    server.port = port;
    if (chosenServer) {
        server.host = *chosenServer;
    } else {
        char area[kWhoisHostSize];
        if (!SelectWhoisServer(query, area, sizeof area))
            return Fail(output, WhoisStatus::InvalidDomain);
        server.host = area;
    }
    std::string line = std::string(query) + "\r\n";
    if (line.size() >= kWhoisLineSize)
        return Fail(output, WhoisStatus::QueryTooLong);

    WhoisConnection connection(waits);
    WhoisStatus status = connection.Connect(server);
    if (status == WhoisStatus::Ok)
        status = connection.Send(line);
    std::string answer;
    if (status == WhoisStatus::Ok)
        status = connection.Receive(answer);
    if (status != WhoisStatus::Ok)
        return Fail(output, status);
    output.ShowAnswer(WhoisAnswerText(answer));
    return WhoisStatus::Ok;
}

WhoisStatus QueryAddressWhois(std::string_view query, WhoisOutput& output, const WhoisWaits& waits,
                              const WhoisServer& first)
{
    // An IPv6 address is asked without the brackets a user may have typed round it.
    if (query.size() > 2 && query.front() == '[' && query.back() == ']' && ParseIpv6Literal(query))
        query = query.substr(1, query.size() - 2);
    WhoisServer server = first;
    std::string line = "+ " + std::string(query) + "\r\n";
    if (line.size() >= kWhoisLineSize)
        return Fail(output, WhoisStatus::QueryTooLong);

    std::vector<WhoisServer> asked;
    for (int referrals = 0;; ++referrals) {
        if (Cancelled(waits))
            return WhoisStatus::Cancelled;
        asked.push_back(server);
        WhoisConnection connection(waits);
        WhoisStatus status = connection.Connect(server);
        if (status == WhoisStatus::Ok)
            status = connection.Send(line);
        if (status != WhoisStatus::Ok)
            return Fail(output, status);
        output.ClearOutput();
        std::string answer;
        status = connection.Receive(answer);
        if (status != WhoisStatus::Ok)
            return Fail(output, status);

        const std::string text = WhoisAnswerText(answer);
        const WhoisReferral referral = FindWhoisReferral(text);
        const bool follow = referral.kind == ReferralKind::Server && referrals < kWhoisMaxReferrals &&
                            std::none_of(asked.begin(), asked.end(),
                                         [&](const WhoisServer& s) { return SameWhoisServer(s, referral.server); });
        if (!follow) {
            output.ShowAnswer(text);
            return WhoisStatus::Ok;
        }
        server = referral.server;
        line = std::string(query) + "\r\n";
    }
}

std::string WhoisCommandLine(const WhoisRequest& request)
{
    if (request.query.empty())
        return {};
    std::string server;
    char area[kWhoisHostSize];
    if (LooksLikeAddress(request.query))
        server = kAddressWhoisServer;
    else if (request.chosenServer)
        server = *request.chosenServer;
    else if (SelectWhoisServer(request.query, area, sizeof area))
        server = area;
    else
        return {};
    return ShellCommand({"whois", "-h", server}, {CommandHost(request.query)});
}
