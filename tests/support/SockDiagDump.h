#pragma once

// Socket-diagnostics dumps written by hand, replayed through SockDiagSource:
// the reply messages exactly as the kernel lays them out, so a test sees the
// table the page would print for them without a live network.
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/SocketTable.h"

struct DiagEntry {
    int family;
    int state;  // Linux numbering
    const char* src;
    int sport;
    const char* dst;
    int dport;
    int v6only = -1;  // -1: no INET_DIAG_SKV6ONLY attribute
};

inline void AppendMessage(std::string& out, std::uint16_t type, std::uint16_t flags, const void* body, size_t size)
{
    nlmsghdr header{};
    header.nlmsg_len = std::uint32_t(NLMSG_LENGTH(size));
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    out.append(reinterpret_cast<const char*>(&header), sizeof header);
    out.append(static_cast<const char*>(body), size);
    out.append(NLMSG_ALIGN(out.size()) - out.size(), '\0');
}

// One dump's reply: a message per entry, then NLMSG_DONE (or an error when error != 0).
inline std::string DiagDump(const std::vector<DiagEntry>& entries, bool interrupted = false, int error = 0)
{
    const std::uint16_t flags = NLM_F_MULTI | (interrupted ? NLM_F_DUMP_INTR : 0);
    std::string out;
    for (const DiagEntry& e : entries) {
        std::string body(sizeof(inet_diag_msg), '\0');
        inet_diag_msg m{};
        m.idiag_family = std::uint8_t(e.family);
        m.idiag_state = std::uint8_t(e.state);
        m.id.idiag_sport = htons(std::uint16_t(e.sport));
        m.id.idiag_dport = htons(std::uint16_t(e.dport));
        inet_pton(e.family, e.src, m.id.idiag_src);
        inet_pton(e.family, e.dst, m.id.idiag_dst);
        std::memcpy(body.data(), &m, sizeof m);
        if (e.v6only >= 0) {
            rtattr a{};
            a.rta_len = RTA_LENGTH(1);
            a.rta_type = INET_DIAG_SKV6ONLY;
            body.append(reinterpret_cast<const char*>(&a), sizeof a);
            body += char(e.v6only);
            body.append(RTA_ALIGN(body.size()) - body.size(), '\0');
        }
        AppendMessage(out, SOCK_DIAG_BY_FAMILY, flags, body.data(), body.size());
    }
    if (error) {
        nlmsgerr ack{};
        ack.error = -error;
        AppendMessage(out, NLMSG_ERROR, 0, &ack, sizeof ack);
    } else {
        int zero = 0;
        AppendMessage(out, NLMSG_DONE, flags, &zero, sizeof zero);
    }
    return out;
}

// Replays one queue of replies per (family, protocol); a call with an empty
// queue answers errorWhenEmpty. Records the state masks asked for.
class ReplaySource : public SockDiagSource {
public:
    using Key = std::tuple<int, int>;
    std::map<Key, std::vector<std::string>> replies;
    std::map<std::string, std::string> proc;
    int errorWhenEmpty = 0;
    std::vector<std::uint32_t> statesAsked;

    void Add(int family, int protocol, std::string reply) { replies[{family, protocol}].push_back(std::move(reply)); }

    int Dump(std::uint8_t family, std::uint8_t protocol, std::uint32_t states, const Chunk& chunk) override
    {
        statesAsked.push_back(states);
        auto& queue = replies[{family, protocol}];
        if (queue.empty() && errorWhenEmpty)
            return errorWhenEmpty;
        chunk(queue.empty() ? DiagDump({}) : queue.front());
        if (queue.size() > 1)
            queue.erase(queue.begin());
        return 0;
    }
    bool ProcTable(const char* name, std::string* text) override
    {
        auto it = proc.find(name);
        if (it == proc.end())
            return false;
        *text = it->second;
        return true;
    }
};
