#pragma once

// Peers the tests start and stop: a program that dies with its test, and scripted_peer.py's misbehaving TCP peer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string CommandOutput(const std::string& command)  // its standard output, whole
{
    std::string text;
    FILE* out = popen(command.c_str(), "r");
    for (int c; out && (c = fgetc(out)) != EOF;)
        text += char(c);
    return out && pclose(out), text;
}

class PeerProcess {
public:
    explicit PeerProcess(std::vector<std::string> argv)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    ~PeerProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    std::string ReadLine()  // the next line the program writes, waiting up to ten seconds
    {
        std::string line;
        char c = 0;
        pollfd fd{out_, POLLIN, 0};
        while (poll(&fd, 1, 10000) > 0 && read(out_, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

class ScriptedPeer {
public:
    explicit ScriptedPeer(const std::string& script, const std::string& address = "127.0.0.1", int port = 0)
        : log_(std::string(P_tmpdir) + "/scripted-peer-" + std::to_string(getpid()) + "-" + std::to_string(++count_)),
          process_({"python3", QUORLIX_SOURCE_DIR "/tests/support/scripted_peer.py", script, "--address", address,
                    "--port", std::to_string(port), "--log", log_}),
          port_(std::atoi(process_.ReadLine().c_str()))
    {
    }
    ~ScriptedPeer() { std::remove(log_.c_str()); }

    int Port() const { return port_; }  // 0 when the peer could not listen
    // What the clients sent so far, and "unexpected: LINE" where a line did not start as the script expected.
    std::string Received() const
    {
        std::stringstream text;
        text << std::ifstream(log_, std::ios::binary).rdbuf();
        return text.str();
    }

private:
    static inline int count_ = 0;
    std::string log_;
    PeerProcess process_;
    int port_;
};
