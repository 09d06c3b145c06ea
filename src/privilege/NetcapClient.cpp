#include "privilege/NetcapClient.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "os/PollWait.h"
#include "os/SocketIo.h"

extern char** environ;

namespace {

// The helper answers at once; this only bounds a helper that hangs.
constexpr int kAnswerTimeoutMs = 5000;

std::mutex g_pathMutex;
std::string g_helperPath;
bool g_pathSet = false;

// The set-up installs a build tree's helper here: a copy in a directory only
// root can write, never the build tree's own file, which its owner could swap.
constexpr const char* kSetUpHelperPath = "/usr/local/libexec/quorlix/quorlix-netcap";

std::string DefaultHelperPath()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0 || self[0] != '/')
        return {};
    std::string dir(self, size_t(n));
    dir.resize(dir.rfind('/') + 1);
    const std::string installed =
        std::filesystem::path(dir + "../libexec/quorlix/quorlix-netcap").lexically_normal();
    return access(installed.c_str(), F_OK) == 0 ? installed : kSetUpHelperPath;
}

void EndHelper(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

long ReceiveNetcapMessage(int fd, void* buffer, std::size_t size)
{
    const iovec iov{buffer, size};
    return ReceiveNetcapMessage(fd, &iov, 1);
}

long ReceiveNetcapMessage(int fd, const iovec* parts, std::size_t partCount)
{
    alignas(cmsghdr) char control[CMSG_SPACE(8 * sizeof(int))];
    msghdr msg{};
    msg.msg_iov = const_cast<iovec*>(parts);
    msg.msg_iovlen = partCount;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0)
        return -1;
    // No message of the helper carries a descriptor: any that came is closed
    // and the message refused.
    bool carried = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        carried = true;
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS || c->cmsg_len < CMSG_LEN(0))
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int one;
            std::memcpy(&one, CMSG_DATA(c) + i * sizeof(int), sizeof one);
            const Fd unwanted(one);
        }
    }
    if (carried || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
        errno = EPROTO;
        return -1;
    }
    return long(n);
}

std::string NetcapHelperPath()
{
    std::lock_guard lock(g_pathMutex);
    if (!g_pathSet) {
        g_helperPath = DefaultHelperPath();
        g_pathSet = true;
    }
    return g_helperPath;
}

void SetNetcapHelperPath(const std::string& path)
{
    std::lock_guard lock(g_pathMutex);
    g_helperPath = path;
    g_pathSet = true;
}

NetcapSession OpenNetcapSession(const NetcapRequest& request, const CancelToken* token)
{
    NetcapSession session;
    const std::string path = NetcapHelperPath();
    if (path.empty() || path[0] != '/' || access(path.c_str(), F_OK) != 0) {
        session.failure = PrivilegeFailure::HelperMissing;
        return session;
    }
    if (access(path.c_str(), X_OK) != 0) {
        session.failure = PrivilegeFailure::HelperDenied;
        return session;
    }

    Fd program, helper;
    if (!OpenSocketPair(SOCK_SEQPACKET, program, helper))
        return session;

    // posix_spawn, not fork: the program has many threads. The helper's end
    // becomes its standard input; every other descriptor is close-on-exec.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, helper.Get(), 0);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    helper.Reset();
    if (spawned != 0) {
        if (spawned == ENOENT)
            session.failure = PrivilegeFailure::HelperMissing;
        else if (spawned == EACCES)
            session.failure = PrivilegeFailure::HelperDenied;
        else if (spawned == EPERM)  // its capabilities are beyond this process's bounding set
            session.failure = PrivilegeFailure::HelperRefused;
        return session;
    }

    const std::string text = FormatNetcapRequest(request);
    std::optional<int> code;
    if (send(program.Get(), text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size()) &&
        WaitForFd(program.Get(), POLLIN, token, kAnswerTimeoutMs) == WaitResult::Ready) {
        char answer[kNetcapMaxMessage];
        long n = ReceiveNetcapMessage(program.Get(), answer, sizeof answer);
        if (n > 0)
            code = ParseNetcapReply(std::string_view(answer, std::size_t(n)));
    }
    if (!code) {
        program.Reset();  // the helper sees its end close before it is waited for
        EndHelper(pid);
        return session;  // HelperFailed
    }
    session.failure = *code == EPERM ? PrivilegeFailure::HelperRefused : PrivilegeFailure::None;
    session.error = *code;
    if (*code == 0 && request.kind != NetcapKind::KillTcp) {
        session.fd = std::move(program);
        session.pid = pid;
        return session;
    }
    program.Reset();
    EndHelper(pid);
    return session;
}

void CloseNetcapSession(NetcapSession& session)
{
    session.fd.Reset();
    EndHelper(session.pid);
    session.pid = -1;
}
