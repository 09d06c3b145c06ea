#pragma once

// Peers of the mail tests inside the test's own network namespace (see
// PrivateNameServer): a name server script with MX records, aiosmtpd saving
// what it receives, and a scripted SMTP server for the odd cases.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
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
#include <vector>

#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"

// ---- the name server's zone ----------------------------------------------

// MX records of a domain in reply order, and the A records of their names.
// Domains: "servfail.test" answers SERVFAIL, "slow.*" answers after a second,
// a domain without MX entry answers with no record (or no such name when it
// is not under ".test").
struct MailZone {
    std::map<std::string, std::vector<std::string>> mx;
    std::map<std::string, std::uint32_t> a;  // host byte order
};

// The zone the name server answers from; set by the test, read by the server's thread.
inline std::mutex& MailZoneMutex()
{
    static std::mutex mutex;
    return mutex;
}
inline MailZone& TestMailZone()
{
    static MailZone zone;
    return zone;
}
inline void SetTestMailZone(MailZone zone)
{
    std::lock_guard lock(MailZoneMutex());
    TestMailZone() = std::move(zone);
}

inline std::string QuestionName(const std::vector<std::uint8_t>& q, std::size_t& end)
{
    std::string name;
    std::size_t i = 12;
    while (i < q.size() && q[i] != 0) {
        if (!name.empty())
            name += '.';
        name.append(reinterpret_cast<const char*>(&q[i + 1]), q[i]);
        i += q[i] + 1u;
    }
    end = i + 1;
    return name;
}

inline std::vector<FakeDnsServer::Datagram> AnswerMailQuery(const std::vector<std::uint8_t>& query)
{
    std::size_t end = 0;
    const std::string name = QuestionName(query, end);
    if (end + 4 > query.size())
        return {};
    const std::uint16_t type = std::uint16_t(query[end] << 8 | query[end + 1]);
    const MailZone zone = [] {
        std::lock_guard lock(MailZoneMutex());
        return TestMailZone();
    }();
    if (name.starts_with("slow."))
        std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<DnsReplyBuilder> answers;
    if (type == 15 && zone.mx.count(name)) {
        std::uint16_t preference = 10;
        for (const std::string& exchange : zone.mx.at(name)) {
            DnsReplyBuilder r;
            r.Pointer(12).Fixed(15, 300, std::uint16_t(2 + exchange.size() + 2)).U16(preference).Name(exchange);
            answers.push_back(r);
            preference = std::uint16_t(preference + 10);
        }
    }
    if (type == 1 && zone.a.count(name)) {
        DnsReplyBuilder r;
        r.ARecord(zone.a.at(name));
        answers.push_back(r);
    }
    std::uint16_t rcode = 0;
    if (name == "servfail.test")
        rcode = 2;
    else if (answers.empty() && !name.ends_with(".test"))
        rcode = 3;
    DnsReplyBuilder reply;
    reply.Header(std::uint16_t(query[0] << 8 | query[1]), std::uint16_t(0x8180 | rcode), 1,
                 std::uint16_t(answers.size()), 0, 0);
    reply.bytes.insert(reply.bytes.end(), query.begin() + 12, query.begin() + long(end + 4));
    for (const auto& a : answers)
        reply.bytes.insert(reply.bytes.end(), a.bytes.begin(), a.bytes.end());
    return {{reply.bytes}};
}

// ---- aiosmtpd saving each message -----------------------------------------

inline bool WaitUntilListening(const std::string& address, std::uint16_t port, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{AF_INET, htons(port), {}, {}};
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class SavingSmtpServer {
public:
    SavingSmtpServer(const std::string& address, const std::string& outdir, const std::string& sourceDir)
        : outdir_(outdir)
    {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with a test that dies
            setenv("PYTHONPATH", (sourceDir + "/tests/support").c_str(), 1);
            const std::string listen = address + ":25";
            execl("/usr/bin/python3", "python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
                  "mail_rawsave.RawSave", outdir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ready_ = pid_ > 0 && WaitUntilListening(address, 25, 15000);
    }
    ~SavingSmtpServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Ready() const { return ready_; }

    // The n-th message (from 1) and its envelope, waiting for it to be saved.
    bool Message(int n, std::string& bytes, std::string& envelope) const
    {
        const std::string base = outdir_ + "/msg" + std::to_string(n);
        for (int waited = 0; waited < 10000; waited += 20) {
            std::ifstream env(base + ".env");
            if (env) {
                std::stringstream e, m;
                e << env.rdbuf();
                m << std::ifstream(base + ".eml", std::ios::binary).rdbuf();
                envelope = e.str();
                bytes = m.str();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    std::string outdir_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// ---- a scripted SMTP server ------------------------------------------------

// Serves each connection on address:25 with its script, one at a time, and
// keeps everything the clients sent.
class ScriptedSmtpServer {
public:
    class Session {
    public:
        explicit Session(int fd, ScriptedSmtpServer& server) : fd_(fd), server_(server) {}
        void Send(const std::string& text) { (void)!send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
        // The next line the client sent, "" when it closed or timeoutMs passed.
        std::string Line(int timeoutMs = 10000)
        {
            for (;;) {
                if (const std::size_t nl = buffer_.find('\n'); nl != std::string::npos) {
                    std::string line = buffer_.substr(0, nl + 1);
                    buffer_.erase(0, nl + 1);
                    return line;
                }
                if (!Read(timeoutMs))
                    return {};
            }
        }
        // Reads until the client sends the end of data; false if it never does.
        bool ReadData()
        {
            while (buffer_.find("\r\n.\r\n") == std::string::npos)
                if (!Read(10000))
                    return false;
            buffer_.erase(0, buffer_.find("\r\n.\r\n") + 5);
            return true;
        }
        // Reads until the client closes; true when it did within timeoutMs.
        bool WaitClosed(int timeoutMs = 10000)
        {
            while (Read(timeoutMs)) {
            }
            return closed_;
        }
        int Fd() const { return fd_; }

    private:
        bool Read(int timeoutMs)
        {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                return false;
            char chunk[65536];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed_ = true;
                return false;
            }
            buffer_.append(chunk, std::size_t(n));
            server_.Record(std::string_view(chunk, std::size_t(n)));
            return true;
        }
        int fd_;
        ScriptedSmtpServer& server_;
        std::string buffer_;
        bool closed_ = false;
    };
    using Script = std::function<void(Session&)>;

    ScriptedSmtpServer(const std::string& address, Script script)
        : script_(std::move(script))
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{AF_INET, htons(25), {}, {}};
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 8) != 0)
            throw std::runtime_error("ScriptedSmtpServer: cannot listen on " + address + ":25");
        loop_.Start(fd_, [this] { Serve(); });
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

private:
    void Record(std::string_view bytes)
    {
        std::lock_guard lock(mutex_);
        received_ += bytes;
    }
    void Serve()
    {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        ++connections_;
        Session session(client, *this);
        script_(session);
        close(client);
    }

    Script script_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::string received_;
    std::atomic<int> connections_{0};
    ServeLoop loop_;
};

// The usual dialogue up to the DATA reply; the greeting may come in parts,
// 200 ms apart.
inline bool GreetToData(ScriptedSmtpServer::Session& s,
                        std::initializer_list<const char*> greeting = {"220 scripted\r\n"})
{
    for (const char* part : greeting) {
        if (part != *greeting.begin())
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        s.Send(part);
    }
    for (const char* reply : {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354-go\r\n354 on\r\n"}) {
        if (s.Line().empty())
            return false;
        s.Send(reply);
    }
    return true;
}

// A whole dialogue that takes the mail, waiting pauseMs before the reply to
// its end; QUIT answered when answerQuit.
inline void TakeMail(ScriptedSmtpServer::Session& s, int pauseMs = 0, bool answerQuit = true)
{
    if (!GreetToData(s) || !s.ReadData())
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    s.Send("250 queued\r\n");
    if (answerQuit && !s.Line(2000).empty())
        s.Send("221 bye\r\n");
    else
        s.WaitClosed();
}
