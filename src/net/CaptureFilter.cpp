#include "net/CaptureFilter.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>

namespace {

// A filter written forwards; jumps name where they go (the next instruction,
// the one after it, the final keep or drop, or a label placed later), and the
// offsets are filled in when the program is finished.
class FilterWriter {
public:
    using Target = std::size_t;
    static constexpr Target kNext = 0, kSkipOne = 1, kKeep = 2, kDrop = 3;

    Target NewLabel()
    {
        labels_.push_back(0);
        return kFirstLabel + labels_.size() - 1;
    }
    void Place(Target label) { labels_[label - kFirstLabel] = program_.size(); }

    void Statement(std::uint16_t code, std::uint32_t k) { program_.push_back(BPF_STMT(code, k)); }
    // if (A op k) goto onTrue else goto onFalse
    void Jump(std::uint16_t op, std::uint32_t k, Target onTrue, Target onFalse)
    {
        jumps_.push_back({program_.size(), onTrue, onFalse, false});
        program_.push_back(BPF_JUMP(BPF_JMP | op | BPF_K, k, 0, 0));
    }
    void Always(Target to)
    {
        jumps_.push_back({program_.size(), to, to, true});
        program_.push_back(BPF_JUMP(BPF_JMP | BPF_JA, 0, 0, 0));
    }

    std::vector<sock_filter> Finish()
    {
        const std::size_t keep = program_.size();
        program_.push_back(BPF_STMT(BPF_RET | BPF_K, kCaptureFrameMax));
        const std::size_t drop = program_.size();
        program_.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
        for (const Pending& j : jumps_) {
            auto offset = [&](Target t) {
                const std::size_t to = t == kKeep ? keep : t == kDrop ? drop : t >= kFirstLabel ? labels_[t - kFirstLabel]
                                                                                                 : j.at + 1 + t;
                return to - j.at - 1;
            };
            if (j.always) {
                program_[j.at].k = std::uint32_t(offset(j.onTrue));
                continue;
            }
            // A conditional jump reaches 255 instructions on: beyond that the
            // program would be wrong, so it keeps everything for the decoder.
            if (offset(j.onTrue) > 255 || offset(j.onFalse) > 255)
                return {BPF_STMT(BPF_RET | BPF_K, kCaptureFrameMax)};
            program_[j.at].jt = std::uint8_t(offset(j.onTrue));
            program_[j.at].jf = std::uint8_t(offset(j.onFalse));
        }
        return program_;
    }

private:
    static constexpr Target kFirstLabel = 4;
    struct Pending {
        std::size_t at;
        Target onTrue, onFalse;
        bool always;
    };
    std::vector<sock_filter> program_;
    std::vector<Pending> jumps_;
    std::vector<std::size_t> labels_;
};

// IPv6 extension headers the filter follows before it keeps the packet for
// the decoder to judge: classic BPF has no loops, so each is a round of its own.
constexpr int kFilterExtensionHeaders = 8;

// Walks an IPv6 packet's extension headers as the decoder does (hop-by-hop,
// routing, destination options, fragment), then goes to transport with A the
// upper-layer protocol and X the offset of its header. Drops a later
// fragment, no next header and anything unknown; keeps a longer chain.
void WalkIpv6Headers(FilterWriter& w, FilterWriter::Target transport)
{
    using W = FilterWriter;
    w.Statement(BPF_LDX | BPF_IMM, 40);
    w.Statement(BPF_LD | BPF_B | BPF_ABS, 6);
    for (int round = 0; round < kFilterExtensionHeaders; ++round) {
        const W::Target fragment = w.NewLabel(), options = w.NewLabel(), next = w.NewLabel();
        w.Jump(BPF_JEQ, IPPROTO_TCP, transport, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_UDP, transport, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_HOPOPTS, options, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_ROUTING, options, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_DSTOPTS, options, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_FRAGMENT, fragment, W::kDrop);
        // Only a first fragment carries the ports; its header is one 8-byte unit.
        w.Place(fragment);
        w.Statement(BPF_LD | BPF_H | BPF_IND, 2);
        w.Jump(BPF_JSET, 0xFFF8, W::kDrop, W::kNext);
        w.Statement(BPF_LD | BPF_IMM, 0);
        w.Always(next);
        w.Place(options);
        w.Statement(BPF_LD | BPF_B | BPF_IND, 1);  // 8-byte units after the first
        w.Place(next);
        w.Statement(BPF_ALU | BPF_ADD | BPF_K, 1);
        w.Statement(BPF_ALU | BPF_LSH | BPF_K, 3);
        w.Statement(BPF_ALU | BPF_ADD | BPF_X, 0);
        w.Statement(BPF_ST, 0);                    // the following header's offset
        w.Statement(BPF_LD | BPF_B | BPF_IND, 0);  // this header's next header
        w.Statement(BPF_LDX | BPF_MEM, 0);
    }
    w.Always(W::kKeep);
}

constexpr std::uint32_t kSourcePort = 0;       // from the transport header's start
constexpr std::uint32_t kDestinationPort = 2;

}  // namespace

std::vector<sock_filter> BuildCaptureFilter(const CaptureFilterSettings& settings, bool isLoopback)
{
    using W = FilterWriter;
    W w;
    const CaptureProtocol protocol = settings.protocolFilter;
    const PortDirection direction = settings.portDirection;
    const bool ipv6 = settings.ipVersion == 6;
    if (protocol > CaptureProtocol::Udp || direction > PortDirection::Destination || (!ipv6 && settings.ipVersion != 4)) {
        w.Statement(BPF_RET | BPF_K, 0);
        return w.Finish();
    }
    if (isLoopback) {
        // Loopback shows each packet twice, going out and coming in.
        w.Statement(BPF_LD | BPF_W | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE));
        w.Jump(BPF_JEQ, PACKET_OUTGOING, W::kDrop, W::kNext);
    }
    w.Statement(BPF_LD | BPF_H | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL));
    w.Jump(BPF_JEQ, ipv6 ? ETH_P_IPV6 : ETH_P_IP, W::kNext, W::kDrop);
    w.Statement(BPF_LD | BPF_B | BPF_ABS, 0);
    const W::Target transport = w.NewLabel();
    if (ipv6) {
        w.Jump(BPF_JGE, 0x60, W::kNext, W::kDrop);
        w.Jump(BPF_JGT, 0x6F, W::kDrop, W::kNext);
        WalkIpv6Headers(w, transport);
    } else {
        // Version 4 and a header of at least five words, as the decoder
        // demands: the first byte lies in 0x45-0x4F.
        w.Jump(BPF_JGE, 0x45, W::kNext, W::kDrop);
        w.Jump(BPF_JGT, 0x4F, W::kDrop, W::kNext);
        // Only a first fragment carries the ports.
        w.Statement(BPF_LD | BPF_H | BPF_ABS, 6);
        w.Jump(BPF_JSET, 0x1FFF, W::kDrop, W::kNext);
        w.Statement(BPF_LDX | BPF_B | BPF_MSH, 0);  // X = the IP header's length
        w.Statement(BPF_LD | BPF_B | BPF_ABS, 9);
    }
    // A = the transport protocol, X = the offset of its header.
    w.Place(transport);
    if (protocol == CaptureProtocol::TcpAndUdp) {
        w.Jump(BPF_JEQ, IPPROTO_TCP, W::kSkipOne, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_UDP, W::kNext, W::kDrop);
    } else {
        w.Jump(BPF_JEQ, protocol == CaptureProtocol::Tcp ? IPPROTO_TCP : IPPROTO_UDP, W::kNext, W::kDrop);
    }
    const std::uint32_t port = settings.portFilter;
    if (direction == PortDirection::Either) {
        w.Statement(BPF_LD | BPF_H | BPF_IND, kSourcePort);
        w.Jump(BPF_JEQ, port, W::kKeep, W::kNext);
        w.Statement(BPF_LD | BPF_H | BPF_IND, kDestinationPort);
        w.Jump(BPF_JEQ, port, W::kKeep, W::kDrop);
    } else {
        w.Statement(BPF_LD | BPF_H | BPF_IND, direction == PortDirection::Source ? kSourcePort : kDestinationPort);
        w.Jump(BPF_JEQ, port, W::kKeep, W::kDrop);
    }
    return w.Finish();
}
