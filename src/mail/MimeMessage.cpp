#include "mail/MimeMessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "base64/Base64.h"
#include "mail/MailOperation.h"
#include "os/Fd.h"

namespace {

constexpr std::string_view kCancelledText = "Operation Cancelled By User";
constexpr std::string_view kOpenFailedText = "Unable to open file. (CreateFileMapping)";
constexpr std::string_view kReadFailedText = "Unable to open file. (MapViewOfFile)";

constexpr std::int64_t kBase64Line = 57;                  // input bytes of one 76-character line
constexpr std::int64_t kReadPiece = kBase64Line * 16384;  // about 900 KiB per read
constexpr std::int64_t kTailPiece = kBase64Line * 64;     // the last pieces, read beside the block

std::string Delimiter()
{
    return "--" + std::string(kMimeBoundary);
}

// Reads exactly length bytes at offset; false when the file ends early or fails.
bool ReadFully(int fd, unsigned char* out, std::int64_t length, std::int64_t offset)
{
    while (length > 0) {
        const ssize_t n = pread(fd, out, static_cast<size_t>(length), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        length -= n;
        offset += n;
    }
    return true;
}

bool Fail(MailOperation& operation, std::string_view text)
{
    operation.Sink().ShowStatus(text);
    return false;
}

bool Cancelled(MailOperation& operation)
{
    operation.Sink().ShowStatus(kCancelledText);
    operation.Sink().SetIdle();
    return false;
}

// The typed text as format=flowed lines (RFC 3676) that a reader gives back
// as typed: spaces before a line break go, since a line ending in one is
// joined with the next (4.2), but for the signature separator "-- ", which
// readers never join (4.3); a line that begins with a space or "From " gets
// one space more in front, which the reader removes (4.4).
std::string FlowedText(std::string_view text)
{
    std::string flowed;
    flowed.reserve(text.size() + 64);
    for (;;) {
        const std::size_t crlf = text.find("\r\n");
        std::string_view line = text.substr(0, crlf);
        while (line.ends_with(' ') && line != "-- ")
            line.remove_suffix(1);
        if (line.starts_with(' ') || line.starts_with("From "))
            flowed += ' ';
        flowed += line;
        if (crlf == std::string_view::npos)
            return flowed;
        flowed += "\r\n";
        text.remove_prefix(crlf + 2);
    }
}

bool HasLineBreakOrNul(const std::string& text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

// Encodes the file's size bytes into message from its end on. The message has
// room for the whole base64 text already; each piece is read into the unused
// end of that room while it is far enough ahead of the text written, and the
// last few beside it.
bool EncodeFile(int fd, std::int64_t size, MailOperation& operation, std::string& message, std::size_t start,
                std::int64_t capacity)
{
    unsigned char tail[kTailPiece];
    auto* const block = reinterpret_cast<unsigned char*>(message.data());
    const std::int64_t blockEnd = static_cast<std::int64_t>(start) + capacity;
    std::int64_t written = static_cast<std::int64_t>(start);
    for (std::int64_t offset = 0; offset < size;) {
        if (operation.CancelRequested())
            return Cancelled(operation);
        const std::int64_t rest = size - offset;
        std::int64_t length = rest < kReadPiece ? rest : kReadPiece;
        // Every piece but the last is a multiple of 57 bytes, so its lines end
        // where one pass over the whole file would end them.
        auto fits = [&](std::int64_t n) { return written + Base64EncodedSize(static_cast<std::uint64_t>(n)) + n <= blockEnd; };
        while (length > kTailPiece && !fits(length))
            length = (length / 2) / kBase64Line * kBase64Line;
        unsigned char* source = block + (blockEnd - length);
        if (length <= kTailPiece || !fits(length)) {
            length = rest < kTailPiece ? rest : kTailPiece;
            source = tail;
        }
        if (!ReadFully(fd, source, length, offset))
            return Fail(operation, kReadFailedText);
        const std::int64_t need = Base64EncodedSize(static_cast<std::uint64_t>(length));
        if (Base64Encode(source, length, message.data() + written, need) != 1)
            return Fail(operation, "Unable to Encode file");
        written += static_cast<std::int64_t>(strnlen(message.data() + written, static_cast<std::size_t>(need)));
        offset += length;
    }
    message.resize(static_cast<std::size_t>(written));
    return true;
}

bool AppendAttachment(const std::string& path, MailOperation& operation, std::string& message)
{
    const std::string name = AttachmentFileName(path);
    message += "\r\n\r\n" + Delimiter() + "\r\n";
    message += "Content-Type: application/octet-stream; name=\"" + name + "\"\r\n";
    message += "Content-Transfer-Encoding: base64\r\n";
    message += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n";

    // A FIFO or device picked in the chooser would block an ordinary open.
    const Fd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.Valid())
        return Fail(operation, kOpenFailedText);
    struct stat st {};
    if (fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(operation, kOpenFailedText);
    const std::int64_t size = st.st_size;
    if (size < 1)
        return Fail(operation, "Unable to Encode file");
    const std::int64_t capacity = Base64EncodedSize(static_cast<std::uint64_t>(size));
    const std::size_t start = message.size();
    try {
        if (capacity < 0 || static_cast<std::uint64_t>(capacity) > message.max_size() - start - 64)
            throw std::bad_alloc();
        message.reserve(start + static_cast<std::size_t>(capacity) + 64);  // and the closing delimiter
        message.resize(start + static_cast<std::size_t>(capacity));
    } catch (const std::exception&) {
        return Fail(operation, "Out Of Memory!");
    }
    if (operation.CancelRequested())
        return Cancelled(operation);
    operation.Sink().ShowStatus("Encoding Attachment...");
    return EncodeFile(file.Get(), size, operation, message, start, capacity);
}

}  // namespace

std::string AttachmentFileName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    std::string name;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            name += '\\';
        name += byte < 0x20 || byte == 0x7f ? '_' : c;
    }
    return name;
}

std::string MailFieldProblem(const MailFields& fields)
{
    const struct {
        const char* name;
        const std::string& text;
        std::size_t limit;
    } headers[] = {
        {"To", fields.to, kMaxToLength},
        {"From", fields.from, kMaxFromLength},
        {"Subject", fields.subject, kMaxSubjectLength},
    };
    for (const auto& h : headers) {
        if (HasLineBreakOrNul(h.text))
            return std::string("The ") + h.name + " field must not hold a line break.";
        if (h.text.size() > h.limit)
            return std::string("The ") + h.name + " field is too long (at most " + std::to_string(h.limit) +
                   " bytes).";
    }
    if (!fields.attachmentPath.empty() && AttachmentFileName(fields.attachmentPath).size() > kMaxFileNameLength)
        return "The File Attachment name is too long (at most " + std::to_string(kMaxFileNameLength) + " bytes).";
    return {};
}

bool ComposeMailMessage(const MailFields& fields, MailOperation& operation, std::string& message)
{
    message.clear();
    try {
        message += "From: " + fields.from + "\r\n";
        message += "To: " + fields.to + "\r\n";
        message += "Subject: " + fields.subject + "\r\n";
        message += "Mime-Version: 1.0\r\n";
        message += "Content-Type: multipart/mixed; boundary=\"" + std::string(kMimeBoundary) + "\"\r\n\r\n";
        message += "\r\n" + Delimiter() + "\r\n";
        message += "Content-Type: text/plain; format=flowed\r\n\r\n";
        message += FlowedText(fields.message);
    } catch (const std::exception&) {
        return Fail(operation, "Out Of Memory!");
    }
    if (!fields.attachmentPath.empty() && !AppendAttachment(fields.attachmentPath, operation, message))
        return false;
    try {
        message += "\r\n\r\n" + Delimiter() + "--\r\n";
    } catch (const std::exception&) {
        return Fail(operation, "Out Of Memory!");
    }
    if (operation.CancelRequested())
        return Cancelled(operation);
    return true;
}
