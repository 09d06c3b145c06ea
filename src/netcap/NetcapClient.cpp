#include "netcap/NetcapClient.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/PollWait.h"

extern char** environ;

namespace {

// The helper answers at once; this only bounds a helper that hangs.
constexpr int kAnswerTimeoutMs = 5000;

std::mutex g_pathMutex;
std::string g_helperPath;

std::string DefaultHelperPath()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "quorlix-netcap";
    std::string path(self, size_t(n));
    auto slash = path.rfind('/');
    return path.substr(0, slash == std::string::npos ? 0 : slash + 1) + "quorlix-netcap";
}

// Reads the one answer datagram and the descriptor that may come with it.
NetcapResult ReadAnswer(int fd)
{
    NetcapResult result;
    char text[kNetcapMaxMessage];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    iovec iov{text, sizeof text};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    // Every descriptor that arrived is ours to close; an answer may carry one.
    int passed = -1;
    int received = 0;
    if (n >= 0) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS || c->cmsg_len < CMSG_LEN(0))
                continue;
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int one;
                std::memcpy(&one, CMSG_DATA(c) + i * sizeof(int), sizeof one);
                if (++received == 1)
                    passed = one;
                else
                    close(one);
            }
        }
    }
    auto code = n > 0 && received <= 1 && !(msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC))
                    ? ParseNetcapReply(std::string_view(text, size_t(n)))
                    : std::nullopt;
    if (!code) {
        if (passed >= 0)
            close(passed);
        return result;  // HelperFailed
    }
    result.outcome = NetcapResult::Outcome::Answered;
    result.error = *code;
    result.fd = *code == 0 ? passed : -1;
    if (*code != 0 && passed >= 0)
        close(passed);
    return result;
}

}  // namespace

std::string NetcapHelperPath()
{
    std::lock_guard lock(g_pathMutex);
    if (g_helperPath.empty())
        g_helperPath = DefaultHelperPath();
    return g_helperPath;
}

void SetNetcapHelperPath(const std::string& path)
{
    std::lock_guard lock(g_pathMutex);
    g_helperPath = path;
}

NetcapResult AskNetcap(const NetcapRequest& request, const CancelToken* token)
{
    NetcapResult result;
    const std::string path = NetcapHelperPath();
    if (access(path.c_str(), X_OK) != 0) {
        result.outcome = NetcapResult::Outcome::HelperMissing;
        return result;
    }

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return result;

    // posix_spawn, not fork: the program has many threads. The helper's end
    // becomes its standard input; every other descriptor is close-on-exec.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    if (spawned != 0) {
        close(pair[0]);
        if (spawned == ENOENT || spawned == EACCES || spawned == ENOEXEC)
            result.outcome = NetcapResult::Outcome::HelperMissing;
        return result;
    }

    const std::string text = FormatNetcapRequest(request);
    if (send(pair[0], text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size()) &&
        WaitForFd(pair[0], POLLIN, token, kAnswerTimeoutMs) == WaitResult::Ready)
        result = ReadAnswer(pair[0]);
    close(pair[0]);

    // The helper exits right after answering; one that did not answer is ended.
    if (result.outcome != NetcapResult::Outcome::Answered)
        kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
}
