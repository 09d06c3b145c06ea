#pragma once

#include <string>
#include <string_view>

class MailOperation;

// The fixed multipart boundary; the content is not searched for it.
inline constexpr std::string_view kMimeBoundary = "----=_NextPart_000_6e7b_5157_626a";

// Longest texts whose header line, with its CR LF, stays within 1000 bytes.
inline constexpr std::size_t kMaxFromLength = 991;
inline constexpr std::size_t kMaxToLength = 993;
inline constexpr std::size_t kMaxSubjectLength = 988;
inline constexpr std::size_t kMaxFileNameLength = 413;  // as quoted, held twice by the part header

// The page's fields as typed; the message text with CR LF line breaks.
struct MailFields {
    std::string from;
    std::string to;
    std::string subject;
    std::string message;
    std::string attachmentPath;  // empty: no attachment
};

// The attachment's name as it goes into the quoted strings of its part header:
// the path after its last "/", with '"' and '\' escaped and control
// characters replaced by "_".
std::string AttachmentFileName(std::string_view path);

// Why the fields cannot go into a header: a CR, LF or NUL in To, From or
// Subject, or a text longer than its header line allows (the attachment's
// name included). Empty when they can.
std::string MailFieldProblem(const MailFields& fields);

// The whole message, built piece by piece:
//
//   From: <from>\r\n  To: <to>\r\n  Subject: <subject>\r\n  Mime-Version: 1.0\r\n
//   Content-Type: multipart/mixed; boundary="<boundary>"\r\n\r\n
//   \r\n--<boundary>\r\n  Content-Type: text/plain; format=flowed\r\n\r\n  <message as flowed text>
//   [ \r\n\r\n--<boundary>\r\n  Content-Type: application/octet-stream; name="<file>"\r\n
//     Content-Transfer-Encoding: base64\r\n
//     Content-Disposition: attachment; filename="<file>"\r\n\r\n  <base64 in lines of 76> ]
//   \r\n\r\n--<boundary>--\r\n
//
// As flowed text the message loses the spaces at its line ends, and a line
// that begins with a space or "From " gets one space more in front.
//
// The attachment must be a regular file; it is opened without blocking and
// read with pread straight into the message, which is grown once for it, in
// pieces of a multiple of 57 bytes, so the base64 lines are those of one pass.
// False after a failure text has gone to the operation's status line (and for
// a cancellation, the page returned to idle); message then holds nothing useful.
bool ComposeMailMessage(const MailFields& fields, MailOperation& operation, std::string& message);
