#pragma once

// Peers of the mail tests inside the test's own network namespace (see
// PrivateNameServer): answers from a zone for its name server, aiosmtpd saving
// what it receives, and a scripted SMTP server for the odd cases.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"

// MX records of a domain in reply order, and the A records (host byte order)
// of their names. "servfail.test" answers SERVFAIL, "slow.*" after a second,
// "tc.*" truncated; a name without records has none under ".test", and no such name elsewhere.
struct MailZone {
    std::map<std::string, std::vector<std::string>> mx;
    std::map<std::string, std::uint32_t> a;
};

inline FakeDnsServer::Script AnswerFrom(MailZone zone)
{
    return [zone = std::move(zone)](const std::vector<std::uint8_t>& query) -> std::vector<FakeDnsServer::Datagram> {
        std::string name;
        std::size_t end = 12;  // the question's zero byte
        for (; end < query.size() && query[end] != 0 && end + 1u + query[end] <= query.size(); end += query[end] + 1u)
            name.append(name.empty() ? "" : ".").append(reinterpret_cast<const char*>(&query[end + 1]), query[end]);
        if (end + 5 > query.size() || query[end] != 0)
            return {};
        if (name.starts_with("slow."))
            std::this_thread::sleep_for(std::chrono::seconds(1));
        const int type = query[end + 1] << 8 | query[end + 2];
        DnsReplyBuilder answers;
        std::uint16_t count = 0;
        if (type == 15 && zone.mx.count(name))
            for (const std::string& exchange : zone.mx.at(name))
                answers.Pointer(12).Fixed(15, 300, std::uint16_t(exchange.size() + 4))
                    .U16(std::uint16_t(10 * ++count)).Name(exchange);  // preference 10, 20, ...
        if (type == 1 && zone.a.count(name)) {
            answers.ARecord(zone.a.at(name));
            ++count;
        }
        const int rcode = name == "servfail.test" ? 2 : count == 0 && !name.ends_with(".test") ? 3 : 0;
        DnsReplyBuilder reply = DnsReplyBuilder::ReplyTo({query.begin(), query.begin() + long(end + 5)}, count);
        reply.bytes[2] |= name.starts_with("tc.") ? 0x02 : 0;
        reply.bytes[3] = std::uint8_t(0x80 | rcode);
        reply.bytes.insert(reply.bytes.end(), answers.bytes.begin(), answers.bytes.end());
        return {{reply.bytes}};
    };
}

// aiosmtpd on address:25, its handler (mail_rawsave.py) saving each message.
class SavingSmtpServer {
public:
    SavingSmtpServer(const std::string& address, const std::string& outdir) : outdir_(outdir)
    {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with a test that dies
            setenv("PYTHONPATH", QUORLIX_SOURCE_DIR "/tests/support", 1);
            const std::string listen = address + ":25";
            execl("/usr/bin/python3", "python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
                  "mail_rawsave.RawSave", outdir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        sockaddr_in to{AF_INET, htons(25), {}, {}};
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        auto listening = [&to] {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
            close(fd);
            return ok;
        };
        for (int waited = 0; pid_ > 0 && !(ready_ = listening()) && waited < 15000; waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~SavingSmtpServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Ready() const { return ready_; }

    // The n-th message (from 1) and its envelope, waiting for them to be
    // saved; no envelope when nothing came.
    std::pair<std::string, std::string> Message(int n) const
    {
        const std::string base = outdir_ + "/msg" + std::to_string(n);
        for (int waited = 0; waited < 10000 && !std::ifstream(base + ".env"); waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::stringstream message, envelope;
        message << std::ifstream(base + ".eml", std::ios::binary).rdbuf();
        envelope << std::ifstream(base + ".env").rdbuf();
        return {message.str(), envelope.str()};
    }

private:
    std::string outdir_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// Serves each connection on address:port with its script, one at a time, and
// keeps everything the clients sent. The script talks through Send, Take and
// WaitClosed on the connection it serves.
class ScriptedSmtpServer {
public:
    using Script = std::function<void(ScriptedSmtpServer&)>;

    ScriptedSmtpServer(const std::string& address, Script script, int port = 25) : script_(std::move(script))
    {
        const int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{AF_INET, htons(std::uint16_t(port)), {}, {}};
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 8) != 0)
            throw std::runtime_error("ScriptedSmtpServer: cannot listen on " + address + ":" + std::to_string(port));
        loop_.Start(fd_, [this] {
            if ((client_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
                ++connections_;
                buffer_.clear();
                script_(*this);
                close(client_);
            }
        });
    }
    ~ScriptedSmtpServer()
    {
        loop_.Stop();
        close(fd_);
    }
    std::string Received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    int Connections() const { return connections_; }

    void Send(const std::string& text) { (void)!send(client_, text.data(), text.size(), MSG_NOSIGNAL); }
    // Reads up to and past the next end (a line by default); false when the
    // client closed or timeoutMs passed first.
    bool Take(std::string_view end = "\n", int timeoutMs = 10000)
    {
        std::size_t at;
        while ((at = buffer_.find(end)) == std::string::npos)
            if (!Read(timeoutMs))
                return false;
        buffer_.erase(0, at + end.size());
        return true;
    }
    void WaitClosed()
    {
        while (Read(10000)) {
        }
    }

private:
    bool Read(int timeoutMs)
    {
        pollfd p{client_, POLLIN, 0};
        char chunk[65536];
        const ssize_t n = poll(&p, 1, timeoutMs) > 0 ? recv(client_, chunk, sizeof chunk, 0) : 0;
        if (n <= 0)
            return false;
        buffer_.append(chunk, std::size_t(n));
        std::lock_guard lock(mutex_);
        received_.append(chunk, std::size_t(n));
        return true;
    }

    Script script_;
    int fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int client_ = -1;     // the connection served, and what it sent but the
    std::string buffer_;  // script has not taken yet
    mutable std::mutex mutex_;
    std::string received_;
    std::atomic<int> connections_{0};
    ServeLoop loop_;  // last: its thread uses everything above
};

// Sends the first reply at once and each next one after a line from the
// client; false when it closed or went silent first.
inline bool Reply(ScriptedSmtpServer& s, std::initializer_list<const char*> replies)
{
    bool first = true;
    for (const char* reply : replies) {
        if (!std::exchange(first, false) && !s.Take())
            return false;
        s.Send(reply);
    }
    return true;
}

// The usual dialogue up to the DATA reply; RCPT TO gets a 251, a success too.
inline bool GreetToData(ScriptedSmtpServer& s, const char* greeting = "220 scripted\r\n")
{
    return Reply(s, {greeting, "250 hello\r\n", "250 ok\r\n", "251 will forward\r\n", "354-go\r\n354 on\r\n"});
}

// A whole dialogue that takes the mail, reading nothing for pauseMs after the
// DATA reply.
inline ScriptedSmtpServer::Script TakeMail(int pauseMs = 0)
{
    return [pauseMs](ScriptedSmtpServer& s) {
        if (!GreetToData(s))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        if (!s.Take("\r\n.\r\n"))
            return;
        s.Send("250 queued\r\n");
        if (s.Take("\n", 2000))
            s.Send("221 bye\r\n");
        else
            s.WaitClosed();
    };
}
