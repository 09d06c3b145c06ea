#pragma once

// Socket-diagnostics dumps written by hand and replayed through
// SockDiagSource: the reply messages laid out as the kernel lays them out.
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "hostinfo/SocketTable.h"

struct DiagEntry {
    int family, state;  // Linux state numbering
    const char* src;
    int sport;
    const char* dst;
    int dport;
    int v6only = -1;  // -1: no INET_DIAG_SKV6ONLY attribute
};

inline void AppendMessage(std::string& out, std::uint16_t type, std::uint16_t flags, const std::string& body)
{
    nlmsghdr header{std::uint32_t(NLMSG_LENGTH(body.size())), type, flags, 0, 0};
    out.append(reinterpret_cast<const char*>(&header), sizeof header).append(body);
    out.append(NLMSG_ALIGN(out.size()) - out.size(), '\0');
}

// One dump's reply: a message per entry, then NLMSG_DONE, or the error when there is one.
inline std::string DiagDump(const std::vector<DiagEntry>& entries, bool interrupted = false, int error = 0)
{
    const std::uint16_t flags = NLM_F_MULTI | (interrupted ? NLM_F_DUMP_INTR : 0);
    std::string out;
    for (const DiagEntry& e : entries) {
        inet_diag_msg m{};
        m.idiag_family = std::uint8_t(e.family);
        m.idiag_state = std::uint8_t(e.state);
        m.id.idiag_sport = htons(std::uint16_t(e.sport));
        m.id.idiag_dport = htons(std::uint16_t(e.dport));
        inet_pton(e.family, e.src, m.id.idiag_src);
        inet_pton(e.family, e.dst, m.id.idiag_dst);
        std::string body(reinterpret_cast<const char*>(&m), sizeof m);
        if (e.v6only >= 0) {
            const rtattr a{RTA_LENGTH(1), INET_DIAG_SKV6ONLY};
            body.append(reinterpret_cast<const char*>(&a), sizeof a).append(4, '\0')[sizeof m + sizeof a] = char(e.v6only);
        }
        AppendMessage(out, SOCK_DIAG_BY_FAMILY, flags, body);
    }
    const int code = -error;
    AppendMessage(out, error ? NLMSG_ERROR : NLMSG_DONE, flags, std::string(reinterpret_cast<const char*>(&code), sizeof code));
    return out;
}

// Replays a queue of replies per (family, protocol), its last one over and
// over; with none queued, an empty dump or errorWhenEmpty. Records the states asked for.
struct ReplaySource : SockDiagSource {
    std::map<std::pair<int, int>, std::vector<std::string>> replies;
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
        const auto it = proc.find(name);
        return it != proc.end() && (*text = it->second, true);
    }
};
