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
#include "net/HostAddress.h"
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

// 0 when the wait ended Ready, -7 when cancelled, else failure.
int Outcome(WaitResult wait, int failure)
{
    switch (wait) {
    case WaitResult::Ready:
        return 0;
    case WaitResult::Cancelled:
        return SmtpCancelled;
    case WaitResult::TimedOut:
    case WaitResult::Failed:
        break;
    }
    return failure;
}

// Sends all of data; 0, -6 (also when the peer takes nothing for stall, or
// the deadline passes) or -7.
int Send(int fd, std::string_view data, const CancelToken& token, int stallMs = kSendStallMs,
         Clock::time_point deadline = Clock::time_point::max())
{
    return Outcome(SendAll(fd, data, &token, std::chrono::milliseconds(stallMs), deadline), SmtpSendFailed);
}

// Connects within its deadline; 0, -3 or -7.
int Connect(int fd, std::uint32_t address, std::uint16_t port, const CancelToken& token)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    return Outcome(ConnectWithin(fd, to, &token, Clock::now() + kConnectTimeout), SmtpConnectFailed);
}

// Steps 6 to 13 of a dialogue on a connected socket; 0 or a result code.
int RunDialogue(SmtpConnection& connection, const std::string& recipient, const std::string& sender,
                std::string_view message, MailProgressFn progress, MailOperation& operation)
{
    // also: a second code that counts as the required one.
    auto command = [&](const std::string& text, int timeoutMs, int stage, int required, int also = 0) {
        if (!text.empty()) {
            if (const int sent = Send(connection.fd.Get(), text, WaitToken(operation, stage)); sent != 0)
                return sent;
        }
        const int code = ReadSmtpReply(connection, timeoutMs, progress, stage, operation);
        if (code == SmtpCancelled)
            return code;
        return code == required || (also != 0 && code == also) ? 0 : int(SmtpBadReply);
    };
    if (int r = command("", kReplyTimeoutMs, MailStageConnecting, 220))
        return r;
    if (int r = command("HELO HELLO\r\n", kReplyTimeoutMs, MailStageCommunicating, 250))
        return r;
    if (int r = command("MAIL FROM: <" + sender + ">\r\n", kReplyTimeoutMs, MailStageCommunicating, 250))
        return r;
    // 251: not local, will be forwarded; accepted all the same (RFC 5321 4.2.2).
    if (int r = command("RCPT TO: <" + recipient + ">\r\n", kReplyTimeoutMs, MailStageCommunicating, 250, 251))
        return r;
    if (int r = command("DATA\r\n", kReplyTimeoutMs, MailStageSending, 354))
        return r;

    // Lines go out in batches; the percentage is still worked out per line.
    const auto total = static_cast<std::int64_t>(message.size());
    const auto& allowed = operation.transferTime;
    const Clock::time_point transferEnd = Clock::now() + allowed.base + allowed.perChunk * (total / 65536);
    std::string batch;
    batch.reserve(kSmtpSendBatch + kSmtpLineLength + 3);
    std::int64_t position = 0;
    while ((position = NextMessageLine(message, static_cast<std::size_t>(position), batch)) > 0) {
        if (batch.size() >= kSmtpSendBatch) {
            if (const int sent = Send(connection.fd.Get(), batch, operation.Token(), kSendStallMs, transferEnd); sent != 0)
                return sent;
            batch.clear();
        }
        if (!Progress(progress, MailStageSending, position * 100 / total, operation))
            return SmtpCancelled;
    }
    if (position < 0)
        return SmtpLineTooLong;
    batch += "\r\n.\r\n";
    if (const int sent = Send(connection.fd.Get(), batch, operation.Token(), kSendStallMs, transferEnd); sent != 0)
        return sent;
    operation.committed = true;
    if (int r = command("", kEndOfDataTimeoutMs, MailStageClosing, 250))
        return r;
    if (Send(connection.fd.Get(), "QUIT\r\n", operation.CloseToken(), kQuitTimeoutMs) == 0)
        ReadSmtpReply(connection, kQuitTimeoutMs, progress, MailStageClosing, operation);
    return SmtpSent;
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
    if (stage == MailStageSent || (stage == MailStageError && value != SmtpConnectFailed)) {
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

int ReadSmtpReply(SmtpConnection& connection, int timeoutMs, MailProgressFn progress, int stage,
                  MailOperation& operation)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const CancelToken& token = WaitToken(operation, stage);
    for (;;) {
        int code = -1;
        if (const std::size_t taken = ScanSmtpReply(connection.pending, code)) {
            connection.pending.erase(0, taken);
            return code;
        }
        if (connection.pending.size() > kSmtpReplyLimit) {
            connection.pending.clear();
            return -1;
        }
        const auto slice = WaitEnd(std::chrono::milliseconds(kPollSliceMs), deadline);
        switch (WaitForFd(connection.fd.Get(), POLLIN, &token, slice)) {
        case WaitResult::Ready: {
            char buffer[4096];
            const ssize_t n = recv(connection.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                connection.pending.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                return -1;  // closed or failed; a partial reply is no reply
            break;
        }
        case WaitResult::Cancelled:
            return SmtpCancelled;
        case WaitResult::Failed:
            return -1;
        case WaitResult::TimedOut:
            if (Clock::now() >= deadline)
                return -1;
            if (stage != 0 && !Progress(progress, stage, 0, operation))
                return SmtpCancelled;
            break;
        }
    }
}

std::int64_t NextMessageLine(std::string_view message, std::size_t position, std::string& out)
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
            return SmtpLineTooLong;
        text = text.substr(0, cut);
        out.append(prefix).append(text).append("\r\n");
        return static_cast<std::int64_t>(position + cut);
    }
    out.append(prefix).append(text).append("\r\n");
    return static_cast<std::int64_t>(next);
}

int CheckMessageLines(std::string_view message)
{
    std::string line;
    std::int64_t position = 0;
    while ((position = NextMessageLine(message, static_cast<std::size_t>(position), line)) > 0)
        line.clear();
    return position < 0 ? SmtpLineTooLong : 0;
}

int FindMailExchangers(std::string_view address, std::uint32_t (&exchangers)[kMaxMailExchangers],
                       MailOperation& operation)
{
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 == address.size())
        return 0;
    const std::string domain(address.substr(at + 1));
    DnsRecord records[kMaxMailExchangers] = {};
    DnsRequest request{};
    request.serverAddress = GetDefaultDnsServer();
    request.id = 1234;
    request.type = kDnsTypeMX;
    request.name = domain.c_str();
    request.recursionDesired = 1;
    request.timeoutMs = 3000;
    request.count = kMaxMailExchangers;
    request.records = records;
    if (const int r = RunDnsQuery(&request, &operation.Token()); r != 0)
        return r;
    // No error and no such name both mean the domain has no exchanger; any
    // other answer says nothing about it.
    if (request.responseCode != 0 && request.responseCode != 3)
        return -6;
    // Only the records decoded: the rest of the area may hold those of a
    // truncated datagram answer that was asked again over TCP.
    const int stored = request.stored < kMaxMailExchangers ? request.stored : kMaxMailExchangers;
    int found = 0;
    for (int i = 0; i < stored; ++i) {
        if (records[i].type != kDnsTypeMX || records[i].section != DnsAnswerSection)
            continue;
        // Exchanger names are names even when they begin with a digit.
        exchangers[found++] = ResolveHostName(records[i].name, &operation.Token());
    }
    return found;
}

int SmtpSendMail(std::uint32_t address, std::uint16_t port, const std::string& recipient, const std::string& sender,
                 std::string_view message, MailProgressFn progress, MailOperation& operation)
{
    if (recipient.empty() || message.empty())
        return SmtpNothingToSend;
    auto report = [&](int result) {
        if (result == SmtpSent)
            Progress(progress, MailStageSent, 0, operation);
        else
            Progress(progress, MailStageError, result, operation);
        return result;
    };
    if (CheckMessageLines(message) != 0)
        return report(SmtpLineTooLong);
    if (!Progress(progress, MailStagePreparing, 0, operation))
        return SmtpCancelled;
    SmtpConnection connection;
    connection.fd = OpenTcpSocket();
    if (!connection.fd.Valid())
        return report(SmtpNoSocket);
    bool connected = false;
    int result = SmtpCancelled;
    if (Progress(progress, MailStageConnecting, 0, operation)) {
        // An unresolved exchanger (0 or all ones) would reach this host's own mail server.
        if (address == 0 || address == 0xFFFFFFFFu)
            result = SmtpConnectFailed;
        else
            result = Connect(connection.fd.Get(), address, port ? port : kSmtpPort, operation.Token());
        connected = result == 0;
        if (connected)
            result = RunDialogue(connection, recipient, sender, message, progress, operation);
    }
    if (result == SmtpCancelled && connected) {
        if (Send(connection.fd.Get(), "RSET\r\n", operation.CloseToken(), kResetTimeoutMs) == 0)
            ReadSmtpReply(connection, kResetTimeoutMs, nullptr, 0, operation);
    }
    report(result);
    return result;
}

int DeliverMail(const MailFields& fields, std::string_view message, MailOperation& operation)
{
    MailSink& sink = operation.Sink();
    sink.ShowStatus("Finding Mailbox...");
    const std::string to(TrimBlanks(fields.to));
    std::uint32_t exchangers[kMaxMailExchangers] = {};
    const int count = FindMailExchangers(to, exchangers, operation);
    if (operation.CancelRequested()) {
        sink.ShowStatus("Operation Cancelled By User");
        sink.SetIdle();
        return 0;
    }
    if (count == 0) {
        sink.ShowStatus("Bad Email: " + fields.to);
        return 0;
    }
    if (count < 0) {
        sink.ShowStatus("DNS Error. (Ensure You Have An Internet Connection!)");
        return 0;
    }
    int result = SmtpConnectFailed;
    for (int k = count - 1; k >= 0 && result == SmtpConnectFailed; --k)
        result = SmtpSendMail(exchangers[k], kSmtpPort, to, to, message, MailProgress, operation);
    if (result == SmtpConnectFailed)
        sink.ShowStatus("Unable To Connect To Mailbox!");
    return result;
}

void RunMailOperation(const MailFields& fields, MailOperation& operation)
{
    int result = 0;
    {
        std::string message;
        if (ComposeMailMessage(fields, operation, message))
            result = DeliverMail(fields, message, operation);
    }
    operation.ended = true;
    operation.Sink().SetIdle();
    if (result == SmtpCancelled)
        operation.Sink().ShowStatus("Operation Cancelled By User.");
}
