#include "mail/SmtpDialogue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>

#include "dns/DnsMessage.h"
#include "hostcfg/ResolvConf.h"
#include "net/IpAddress.h"
#include "mail/MailOperation.h"
#include "mail/MimeMessage.h"
#include "os/CancelToken.h"
#include "os/PollWait.h"
#include "os/SocketIo.h"
#include "net/ByteReader.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::chrono::milliseconds kConnectTimeout{30000};
constexpr int kSendStallMs = 30000;  // a peer that takes nothing for this long has failed
constexpr int kReplyTimeoutMs = 5000;
constexpr int kEndOfDataTimeoutMs = 15000;
constexpr int kQuitTimeoutMs = 1000;
constexpr int kResetTimeoutMs = 500;
constexpr int kPollSliceMs = 50;

// Before the end of data a wait ends on Cancel; after it only when the window closes.
const CancelToken& WaitToken(const MailOperation& operation, int stage)
{
    return stage != 0 && !operation.committed ? operation.Token() : operation.CloseToken();
}

bool Progress(MailProgressFn progress, int stage, std::int64_t value, MailOperation& operation)
{
    return !progress || progress(stage, value, operation);
}

// Sent when the wait ended Ready, Cancelled when cancelled, else failure.
SmtpResult Outcome(WaitResult wait, SmtpResult failure)
{
    switch (wait) {
    case WaitResult::Ready:
        return SmtpResult::Sent;
    case WaitResult::Cancelled:
        return SmtpResult::Cancelled;
    case WaitResult::TimedOut:
    case WaitResult::Failed:
        break;
    }
    return failure;
}

// Sends all of data; Sent, SendFailed (also when the peer takes nothing for
// stall, or the deadline passes) or Cancelled.
SmtpResult Send(int fd, std::string_view data, const CancelToken& token, int stallMs = kSendStallMs,
         Clock::time_point deadline = Clock::time_point::max())
{
    return Outcome(SendAll(fd, data, &token, std::chrono::milliseconds(stallMs), deadline), SmtpResult::SendFailed);
}

// Connects within its deadline; Sent, ConnectFailed or Cancelled.
SmtpResult Connect(int fd, const IpAddress& address, std::uint16_t port, const CancelToken& token)
{
    return Outcome(ConnectToAddress(fd, address, port, &token, Clock::now() + kConnectTimeout), SmtpResult::ConnectFailed);
}

// Steps 6 to 13 of a dialogue on a connected socket.
SmtpResult RunDialogue(SmtpConnection& connection, const std::string& recipient, const std::string& sender,
                std::string_view message, MailProgressFn progress, MailOperation& operation)
{
    // also: a second code that counts as the required one.
    auto command = [&](const std::string& text, int timeoutMs, int stage, int required, int also = 0) {
        if (!text.empty()) {
            if (const SmtpResult sent = Send(connection.fd.Get(), text, WaitToken(operation, stage));
                sent != SmtpResult::Sent)
                return sent;
        }
        int code = 0;
        if (const SmtpResult read = ReadSmtpReply(connection, timeoutMs, progress, stage, operation, code);
            read != SmtpResult::Sent)
            return read;
        return code == required || (also != 0 && code == also) ? SmtpResult::Sent : SmtpResult::BadReply;
    };
    constexpr auto ok = SmtpResult::Sent;
    if (const auto r = command("", kReplyTimeoutMs, MailStageConnecting, 220); r != ok)
        return r;
    if (const auto r = command("HELO HELLO\r\n", kReplyTimeoutMs, MailStageCommunicating, 250); r != ok)
        return r;
    if (const auto r = command("MAIL FROM: <" + sender + ">\r\n", kReplyTimeoutMs, MailStageCommunicating, 250); r != ok)
        return r;
    // 251: not local, will be forwarded; accepted all the same (RFC 5321 4.2.2).
    if (const auto r = command("RCPT TO: <" + recipient + ">\r\n", kReplyTimeoutMs, MailStageCommunicating, 250, 251);
        r != ok)
        return r;
    if (const auto r = command("DATA\r\n", kReplyTimeoutMs, MailStageSending, 354); r != ok)
        return r;

    // Lines go out in batches; the percentage is still worked out per line.
    const auto total = static_cast<std::int64_t>(message.size());
    const auto& allowed = operation.transferTime;
    const Clock::time_point transferEnd = Clock::now() + allowed.base + allowed.perChunk * (total / 65536);
    std::string batch;
    batch.reserve(kSmtpSendBatch + kSmtpLineLength + 3);
    std::optional<std::size_t> position = 0;
    while ((position = NextMessageLine(message, *position, batch)).value_or(0) > 0) {
        if (batch.size() >= kSmtpSendBatch) {
            if (const auto sent = Send(connection.fd.Get(), batch, operation.Token(), kSendStallMs, transferEnd); sent != ok)
                return sent;
            batch.clear();
        }
        if (!Progress(progress, MailStageSending, static_cast<std::int64_t>(*position) * 100 / total, operation))
            return SmtpResult::Cancelled;
    }
    if (!position)
        return SmtpResult::LineTooLong;
    batch += "\r\n.\r\n";
    if (const auto sent = Send(connection.fd.Get(), batch, operation.Token(), kSendStallMs, transferEnd); sent != ok)
        return sent;
    operation.committed = true;
    if (const auto r = command("", kEndOfDataTimeoutMs, MailStageClosing, 250); r != ok)
        return r;
    if (int code = 0; Send(connection.fd.Get(), "QUIT\r\n", operation.CloseToken(), kQuitTimeoutMs) == ok)
        ReadSmtpReply(connection, kQuitTimeoutMs, progress, MailStageClosing, operation, code);
    return ok;
}

std::string_view TrimBlanks(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

int MailErrorNumber(SmtpResult result)
{
    switch (result) {
    case SmtpResult::Sent: return 0;
    case SmtpResult::NothingToSend: return -1;
    case SmtpResult::NoSocket: return -2;
    case SmtpResult::ConnectFailed: return -3;
    case SmtpResult::LineTooLong: return -4;
    case SmtpResult::BadReply: return -5;
    case SmtpResult::SendFailed: return -6;
    case SmtpResult::Cancelled: return -7;
    }
    return 0;
}

bool MailProgress(int stage, std::int64_t value, MailOperation& operation)
{
    if (operation.ended || (operation.committed ? operation.Closing() : operation.CancelRequested()))
        return false;
    if (stage == operation.lastStage && value == operation.lastValue)
        return true;
    operation.lastStage = stage;
    operation.lastValue = value;
    char text[64] = "";
    switch (stage) {
    case MailStagePreparing: std::snprintf(text, sizeof text, "Preparing Connection..."); break;
    case MailStageConnecting: std::snprintf(text, sizeof text, "Connecting to Server.."); break;
    case MailStageCommunicating: std::snprintf(text, sizeof text, "Communicating With Server..."); break;
    case MailStageSending: std::snprintf(text, sizeof text, "Sending Message... %lld%% Complete", static_cast<long long>(value)); break;
    case MailStageClosing: std::snprintf(text, sizeof text, "Closing Connection..."); break;
    case MailStageSent: std::snprintf(text, sizeof text, "Mail Sent Successfully"); break;
    case MailStageError: std::snprintf(text, sizeof text, "Error Sending Mail: %lld", static_cast<long long>(value)); break;
    default: break;
    }
    operation.Sink().ShowStatus(text);
    if (stage == MailStageSent || (stage == MailStageError && value != MailErrorNumber(SmtpResult::ConnectFailed))) {
        operation.ended = true;
        operation.Sink().SetIdle();
    }
    return true;
}

std::size_t ScanSmtpReply(std::string_view data, int& code)
{
    ByteReader reader(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    for (;;) {
        const std::size_t end = data.find('\n', reader.Position());
        if (end == std::string_view::npos)
            return 0;
        std::optional<ByteReader> line = reader.Take(end + 1 - reader.Position());
        int value = 0;
        bool digits = true;
        for (int i = 0; i < 3; ++i) {
            const auto d = line->U8();
            digits = digits && d && *d >= '0' && *d <= '9';
            value = value * 10 + (digits ? *d - '0' : 0);
        }
        const auto separator = line->U8();
        if (!digits || line->Size() < 5 || (*separator != ' ' && *separator != '-' && *separator != '\r')) {
            code = -1;
            return reader.Position();
        }
        if (*separator == '-')
            continue;
        code = value;
        return reader.Position();
    }
}

SmtpResult ReadSmtpReply(SmtpConnection& connection, int timeoutMs, MailProgressFn progress, int stage,
                         MailOperation& operation, int& code)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const CancelToken& token = WaitToken(operation, stage);
    for (;;) {
        if (const std::size_t taken = ScanSmtpReply(connection.pending, code)) {
            connection.pending.erase(0, taken);
            return code < 0 ? SmtpResult::BadReply : SmtpResult::Sent;
        }
        if (connection.pending.size() > kSmtpReplyLimit) {
            connection.pending.clear();
            return SmtpResult::BadReply;
        }
        const auto slice = WaitEnd(std::chrono::milliseconds(kPollSliceMs), deadline);
        switch (WaitForFd(connection.fd.Get(), POLLIN, &token, slice)) {
        case WaitResult::Ready: {
            char buffer[4096];
            const ssize_t n = recv(connection.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                connection.pending.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                return SmtpResult::BadReply;  // closed or failed; a partial reply is no reply
            break;
        }
        case WaitResult::Cancelled:
            return SmtpResult::Cancelled;
        case WaitResult::Failed:
            return SmtpResult::BadReply;
        case WaitResult::TimedOut:
            if (Clock::now() >= deadline)
                return SmtpResult::BadReply;
            if (stage != 0 && !Progress(progress, stage, 0, operation))
                return SmtpResult::Cancelled;
            break;
        }
    }
}

std::optional<std::size_t> NextMessageLine(std::string_view message, std::size_t position, std::string& out)
{
    if (position >= message.size())
        return 0;
    const std::size_t crlf = message.find("\r\n", position);
    const std::size_t end = crlf == std::string_view::npos ? message.size() : crlf;
    const std::size_t next = crlf == std::string_view::npos ? message.size() : crlf + 2;
    std::string_view text = message.substr(position, end - position);
    // The rest of a split line is a line of flowed text of its own, stuffed as
    // a typed one is. Every line that begins with a dot gets a second one,
    // which the receiver removes.
    const bool rest = position > 0 && message[position - 1] != '\n';
    const std::string_view prefix = rest && text.starts_with("From ") ? " " : text.starts_with('.') ? "." : "";
    if (prefix.size() + text.size() > kSmtpLineLength) {
        // Split after a space that is followed by something else than a space,
        // so that the next line does not read as space-stuffed. A space is a
        // whole character in UTF-8, so no sequence is cut.
        std::size_t cut = kSmtpLineLength - prefix.size();
        while (cut > 0 && !(text[cut - 1] == ' ' && text[cut] != ' '))
            --cut;
        if (cut == 0)
            return std::nullopt;
        text = text.substr(0, cut);
        out.append(prefix).append(text).append("\r\n");
        return position + cut;
    }
    out.append(prefix).append(text).append("\r\n");
    return next;
}

bool MessageLinesFit(std::string_view message)
{
    std::string line;
    std::optional<std::size_t> position = 0;
    while ((position = NextMessageLine(message, *position, line)).value_or(0) > 0)
        line.clear();
    return position.has_value();
}

std::optional<std::vector<MailExchanger>> FindMailExchangers(std::string_view address, MailOperation& operation)
{
    std::vector<MailExchanger> exchangers;
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 == address.size())
        return exchangers;
    const std::string domain(address.substr(at + 1));
    DnsRecord records[kMaxMailExchangers] = {};
    DnsRequest request{};
    request.server = DefaultDnsServerAddress();  // the first name server, of either family
    request.id = 1234;
    request.type = kDnsTypeMX;
    request.name = domain.c_str();
    request.recursionDesired = 1;
    request.timeoutMs = 3000;
    request.count = kMaxMailExchangers;
    request.records = records;
    // No error and no such name both mean the domain has no exchanger; any
    // other answer says nothing about it.
    if (RunDnsQuery(&request, &operation.Token()) != DnsQueryResult::Answered || (request.responseCode != 0 && request.responseCode != 3))
        return std::nullopt;
    // Only the records decoded: the rest of the area may hold those of a
    // truncated datagram answer that was asked again over TCP.
    const int stored = request.stored < kMaxMailExchangers ? request.stored : kMaxMailExchangers;
    for (int i = 0; i < stored; ++i) {
        if (records[i].type != kDnsTypeMX || records[i].section != DnsAnswerSection)
            continue;
        // Exchanger names are names even when they begin with a digit.
        exchangers.push_back(ResolveHostAddresses(records[i].name, AF_UNSPEC, &operation.Token()));
    }
    return exchangers;
}

SmtpResult SmtpSendMail(const IpAddress& address, std::uint16_t port, const std::string& recipient,
                        const std::string& sender, std::string_view message, MailProgressFn progress,
                        MailOperation& operation)
{
    if (recipient.empty() || message.empty())
        return SmtpResult::NothingToSend;
    auto report = [&](SmtpResult result) {
        if (result == SmtpResult::Sent)
            Progress(progress, MailStageSent, 0, operation);
        else
            Progress(progress, MailStageError, MailErrorNumber(result), operation);
        return result;
    };
    if (!MessageLinesFit(message))
        return report(SmtpResult::LineTooLong);
    if (!Progress(progress, MailStagePreparing, 0, operation))
        return SmtpResult::Cancelled;
    SmtpConnection connection;
    connection.fd = OpenTcpSocket(address.IsV6() ? AF_INET6 : AF_INET);
    if (!connection.fd.Valid())
        return report(SmtpResult::NoSocket);
    bool connected = false;
    SmtpResult result = SmtpResult::Cancelled;
    if (Progress(progress, MailStageConnecting, 0, operation)) {
        // An unresolved exchanger (0, all ones, ::) would reach this host's own
        // mail server; a multicast one is no exchanger at all.
        if (address.IsNeverAHost())
            result = SmtpResult::ConnectFailed;
        else
            result = Connect(connection.fd.Get(), address, port ? port : kSmtpPort, operation.Token());
        connected = result == SmtpResult::Sent;
        if (connected)
            result = RunDialogue(connection, recipient, sender, message, progress, operation);
    }
    if (result == SmtpResult::Cancelled && connected) {
        int code = 0;
        if (Send(connection.fd.Get(), "RSET\r\n", operation.CloseToken(), kResetTimeoutMs) == SmtpResult::Sent)
            ReadSmtpReply(connection, kResetTimeoutMs, nullptr, 0, operation, code);
    }
    report(result);
    return result;
}

SmtpResult DeliverMail(const MailFields& fields, std::string_view message, MailOperation& operation)
{
    MailSink& sink = operation.Sink();
    sink.ShowStatus("Finding Mailbox...");
    const std::string to(TrimBlanks(fields.to));
    const auto exchangers = FindMailExchangers(to, operation);
    if (operation.CancelRequested()) {
        sink.ShowStatus("Operation Cancelled By User");
        sink.SetIdle();
        return SmtpResult::Sent;
    }
    if (!exchangers) {
        sink.ShowStatus("DNS Error. (Ensure You Have An Internet Connection!)");
        return SmtpResult::Sent;
    }
    if (exchangers->empty()) {
        sink.ShowStatus("Bad Email: " + fields.to);
        return SmtpResult::Sent;
    }
    auto result = SmtpResult::ConnectFailed;
    const MailExchanger unresolved{IpAddress()};  // tried all the same: it fails as a connection
    for (auto k = exchangers->rbegin(); k != exchangers->rend() && result == SmtpResult::ConnectFailed; ++k) {
        for (const IpAddress& address : k->empty() ? unresolved : *k) {
            result = SmtpSendMail(address, kSmtpPort, to, to, message, MailProgress, operation);
            if (result != SmtpResult::ConnectFailed)
                break;
        }
    }
    if (result == SmtpResult::ConnectFailed)
        sink.ShowStatus("Unable To Connect To Mailbox!");
    return result;
}

void RunMailOperation(const MailFields& fields, MailOperation& operation)
{
    auto result = SmtpResult::Sent;
    {
        std::string message;
        if (ComposeMailMessage(fields, operation, message))
            result = DeliverMail(fields, message, operation);
    }
    operation.ended = true;
    operation.Sink().SetIdle();
    if (result == SmtpResult::Cancelled)
        operation.Sink().ShowStatus("Operation Cancelled By User.");
}
