#pragma once

// A mail operation's sink that keeps what it is told, and the message a send
// of given fields must produce, written out by hand.
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base64/Base64.h"
#include "mail/MailOperation.h"

class RecordingMailSink : public MailSink {
public:
    void ShowStatus(std::string_view text) override
    {
        std::lock_guard lock(mutex_);
        texts_.emplace_back(text);
    }
    void SetIdle() override
    {
        std::lock_guard lock(mutex_);
        texts_.emplace_back("<idle>");
    }
    std::vector<std::string> Texts() const
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::string Last() const
    {
        std::lock_guard lock(mutex_);
        for (auto it = texts_.rbegin(); it != texts_.rend(); ++it)
            if (*it != "<idle>")
                return *it;
        return {};
    }
    bool Saw(std::string_view text) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& t : texts_)
            if (t == text)
                return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

// An operation with tokens of its own: cancel as the page's Cancel does,
// close as the window's closing does.
struct TestMailOperation {
    RecordingMailSink sink;
    CancelToken cancel;
    CancelToken close;
    MailOperation operation{sink, cancel, close};
};

inline std::string ExpectedMailMessage(const std::string& from, const std::string& to, const std::string& subject,
                                       const std::string& body, const std::string& fileName = {},
                                       const std::string& fileBytes = {})
{
    const std::string delimiter = "------=_NextPart_000_6e7b_5157_626a";
    std::string m = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject +
                    "\r\nMime-Version: 1.0\r\nContent-Type: multipart/mixed; "
                    "boundary=\"----=_NextPart_000_6e7b_5157_626a\"\r\n\r\n\r\n" +
                    delimiter + "\r\nContent-Type: text/plain; format=flowed\r\n\r\n" + body;
    if (!fileName.empty()) {
        m += "\r\n\r\n" + delimiter + "\r\nContent-Type: application/octet-stream; name=\"" + fileName +
             "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" + fileName +
             "\"\r\n\r\n";
        std::string encoded(static_cast<std::size_t>(Base64EncodedSize(fileBytes.size())), '\0');
        Base64Encode(fileBytes.data(), std::int64_t(fileBytes.size()), encoded.data(), std::int64_t(encoded.size()));
        m += encoded.c_str();
    }
    return m + "\r\n\r\n" + delimiter + "--\r\n";
}

inline std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random{seed};
    std::string bytes(n, '\0');
    for (auto& b : bytes)
        b = char(random());
    return bytes;
}
