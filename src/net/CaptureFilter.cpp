#include "net/CaptureFilter.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>

namespace {

// A filter written forwards; conditional jumps name where they go, and the
// offsets are filled in when the program is finished.
class FilterWriter {
public:
    enum Target : std::uint8_t { kNext, kSkipOne, kKeep, kDrop };

    void Statement(std::uint16_t code, std::uint32_t k) { program_.push_back(BPF_STMT(code, k)); }
    // if (A op k) goto onTrue else goto onFalse
    void Jump(std::uint16_t op, std::uint32_t k, Target onTrue, Target onFalse)
    {
        jumps_.push_back({program_.size(), onTrue, onFalse});
        program_.push_back(BPF_JUMP(BPF_JMP | op | BPF_K, k, 0, 0));
    }

    std::vector<sock_filter> Finish()
    {
        const std::size_t keep = program_.size();
        program_.push_back(BPF_STMT(BPF_RET | BPF_K, kCaptureFrameMax));
        const std::size_t drop = program_.size();
        program_.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
        for (const Pending& j : jumps_) {
            auto offset = [&](Target t) {
                const std::size_t to = t == kKeep ? keep : t == kDrop ? drop : j.at + 1 + (t == kSkipOne);
                return std::uint8_t(to - j.at - 1);
            };
            program_[j.at].jt = offset(j.onTrue);
            program_[j.at].jf = offset(j.onFalse);
        }
        return program_;
    }

private:
    struct Pending {
        std::size_t at;
        Target onTrue, onFalse;
    };
    std::vector<sock_filter> program_;
    std::vector<Pending> jumps_;
};

constexpr std::uint32_t kSourcePort = 0;       // from the transport header's start
constexpr std::uint32_t kDestinationPort = 2;

}  // namespace

std::vector<sock_filter> BuildCaptureFilter(const CaptureFilterSettings& settings, bool isLoopback)
{
    using W = FilterWriter;
    W w;
    const CaptureProtocol protocol = settings.protocolFilter;
    const PortDirection direction = settings.portDirection;
    if (protocol > CaptureProtocol::Udp || direction > PortDirection::Destination) {
        w.Statement(BPF_RET | BPF_K, 0);
        return w.Finish();
    }
    if (isLoopback) {
        // Loopback shows each packet twice, going out and coming in.
        w.Statement(BPF_LD | BPF_W | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE));
        w.Jump(BPF_JEQ, PACKET_OUTGOING, W::kDrop, W::kNext);
    }
    w.Statement(BPF_LD | BPF_H | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL));
    w.Jump(BPF_JEQ, ETH_P_IP, W::kNext, W::kDrop);
    // Version 4 and a header of at least five words, as the decoder demands:
    // the first byte lies in 0x45-0x4F.
    w.Statement(BPF_LD | BPF_B | BPF_ABS, 0);
    w.Jump(BPF_JGE, 0x45, W::kNext, W::kDrop);
    w.Jump(BPF_JGT, 0x4F, W::kDrop, W::kNext);
    w.Statement(BPF_LD | BPF_B | BPF_ABS, 9);
    if (protocol == CaptureProtocol::TcpAndUdp) {
        w.Jump(BPF_JEQ, IPPROTO_TCP, W::kSkipOne, W::kNext);
        w.Jump(BPF_JEQ, IPPROTO_UDP, W::kNext, W::kDrop);
    } else {
        w.Jump(BPF_JEQ, protocol == CaptureProtocol::Tcp ? IPPROTO_TCP : IPPROTO_UDP, W::kNext, W::kDrop);
    }
    // Only a first fragment carries the ports.
    w.Statement(BPF_LD | BPF_H | BPF_ABS, 6);
    w.Jump(BPF_JSET, 0x1FFF, W::kDrop, W::kNext);
    w.Statement(BPF_LDX | BPF_B | BPF_MSH, 0);  // X = the IP header's length
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
