#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/IpAddress.h"
#include "os/Fd.h"

class MailOperation;
struct MailFields;

// SMTP (RFC 5321) straight to the recipient's mail exchanger, one plain
// dialogue per exchanger: greeting 220, HELO 250, MAIL FROM 250, RCPT TO 250
// or 251, DATA 354, the message's lines, "\r\n.\r\n" 250, QUIT. The lines must
// go out within the operation's transferTime, else SendFailed.

inline constexpr std::uint16_t kSmtpPort = 25;
inline constexpr int kMaxMailExchangers = 5;
inline constexpr std::size_t kSmtpLineLength = 998;       // a line's bytes before its CR LF
inline constexpr std::size_t kSmtpReplyLimit = 64 * 1024;  // a longer reply is not one
inline constexpr std::size_t kSmtpSendBatch = 256 * 1024;  // message lines go out in sends of about this much

// How a dialogue (or a step of it) ended.
enum class SmtpResult {
    Sent,
    NothingToSend,   // no recipient or no message
    NoSocket,
    ConnectFailed,   // the caller tries the next exchanger
    LineTooLong,     // a line of more than 998 bytes without a space; refused before connecting
    BadReply,        // no reply in time, not a reply, or not the code required
    SendFailed,
    Cancelled,       // RSET was sent when a connection existed
};

// The number "Error Sending Mail: %d" shows for a result.
int MailErrorNumber(SmtpResult result);

// The status stages of MailProgress.
enum MailStage : int {
    MailStagePreparing = 1,
    MailStageConnecting = 2,
    MailStageCommunicating = 3,
    MailStageSending = 4,   // value: per cent of the message sent
    MailStageClosing = 5,
    MailStageSent = 6,      // ends the operation
    MailStageError = 7,     // value: MailErrorNumber; ends the operation unless ConnectFailed
};

// Shows the stage's text in the operation's status line when stage or value
// differ from the last ones shown. False, doing nothing, once Cancel was
// pressed (after the end of data only once the window closes).
bool MailProgress(int stage, std::int64_t value, MailOperation& operation);
using MailProgressFn = bool (*)(int stage, std::int64_t value, MailOperation& operation);

// An open connection to an exchanger and the bytes read past the last reply.
struct SmtpConnection {
    Fd fd;
    std::string pending;
};

// Looks for one whole reply at the start of data: lines "ddd-text" up to the
// line "ddd text" (or "ddd" alone). Returns the bytes the reply takes, 0 when
// it is not complete yet. code is its three-digit code, or -1 when a line is
// not a reply line (then the bytes up to that line are taken).
std::size_t ScanSmtpReply(std::string_view data, int& code);

// Waits up to timeoutMs for a whole reply; bytes after it stay in pending for
// the next one. Every 50 ms of waiting progress(stage, 0) is asked unless stage
// is 0. Sent with the reply's code in code; BadReply when none came in time,
// the peer closed, the reply was malformed or longer than kSmtpReplyLimit;
// Cancelled.
SmtpResult ReadSmtpReply(SmtpConnection& connection, int timeoutMs, MailProgressFn progress, int stage,
                         MailOperation& operation, int& code);

// Appends to out the next line of message from position as it goes on the
// wire: its CR LF (added when the message ends without one), a second dot
// when it begins with ".", and, when it is longer than 998 bytes, only its
// part up to a space as a format=flowed soft break (the rest is the next
// line, space-stuffed when it begins with "From "). Returns the position
// after what was taken, 0 at the end of the message, nullopt when the line
// has no space to split at (out unchanged).
std::optional<std::size_t> NextMessageLine(std::string_view message, std::size_t position, std::string& out);

// Whether every line of message can be sent.
bool MessageLinesFit(std::string_view message);

// One exchanger's addresses: its IPv4 ones, then its IPv6 ones; empty when
// its name does not resolve.
using MailExchanger = std::vector<IpAddress>;

// The MX exchangers (at most kMaxMailExchangers) of the domain after the last
// "@" of address, in the order of the reply; none for no "@", nothing after
// it, or no MX record with no error or no such name. nullopt when the query
// failed or the reply has another error code.
std::optional<std::vector<MailExchanger>> FindMailExchangers(std::string_view address, MailOperation& operation);

// One dialogue with the exchanger at address; port 0 means 25. progress may
// be null. Reports the outcome through stage 6 or 7. An address that is never
// a host (none, 0, all ones, ::, multicast) fails as a connection would.
SmtpResult SmtpSendMail(const IpAddress& address, std::uint16_t port, const std::string& recipient,
                        const std::string& sender, std::string_view message, MailProgressFn progress,
                        MailOperation& operation);

// The delivery stage: finds the exchangers of the To address (without blanks
// around it) and tries them from the last found to the first, each at its
// addresses in turn. The last
// dialogue's result (Sent when none ran).
SmtpResult DeliverMail(const MailFields& fields, std::string_view message, MailOperation& operation);

// A whole send: compose, deliver, then the common ending (cancelRequested
// set, the page idle, "Operation Cancelled By User." after a cancelled dialogue).
void RunMailOperation(const MailFields& fields, MailOperation& operation);
