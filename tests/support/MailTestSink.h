#pragma once

// A mail operation that keeps what it shows, and the message a send of given fields must produce.
#include <algorithm>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "base64/Base64.h"
#include "mail/MailOperation.h"

// Tokens of its own: cancel as the page's Cancel, close as the window's closing.
struct TestMailOperation : MailSink {
    void ShowStatus(std::string_view text) override { std::lock_guard lock(mutex); texts.emplace_back(text); }
    void SetIdle() override { ShowStatus("<idle>"); }
    std::vector<std::string> Texts() const { std::lock_guard lock(mutex); return texts; }
    bool Saw(std::string_view text) const { return std::ranges::count(Texts(), text) > 0; }
    mutable std::mutex mutex;
    std::vector<std::string> texts;
    CancelToken cancel, close;
    MailOperation operation{*this, cancel, close};
};

inline const std::string kMailDelimiter = "------=_NextPart_000_6e7b_5157_626a";

inline std::string ExpectedMailMessage(const std::string& from, const std::string& to, const std::string& subject,
                                       const std::string& body, const std::string& fileName = {}, const std::string& bytes = {})
{
    const std::string part = "\r\n\r\n" + kMailDelimiter + "\r\nContent-Type: ";
    std::string m = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\nMime-Version: 1.0\r\nContent-Type: "
                    "multipart/mixed; boundary=\"" + kMailDelimiter.substr(2) + "\"\r\n" + part + "text/plain; format=flowed\r\n\r\n" + body;
    if (!fileName.empty()) {
        std::string encoded(std::size_t(Base64EncodedSize(bytes.size())), '\0');
        Base64Encode(bytes.data(), std::int64_t(bytes.size()), encoded.data(), std::int64_t(encoded.size()));
        m += part + "application/octet-stream; name=\"" + fileName + "\"\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; filename=\"" + fileName + "\"\r\n\r\n" + encoded.c_str();
    }
    return m + "\r\n\r\n" + kMailDelimiter + "--\r\n";
}

inline std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::string bytes(n, '\0');
    std::ranges::generate(bytes, std::mt19937{seed});  // each byte the low one of a draw
    return bytes;
}
