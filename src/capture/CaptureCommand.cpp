#include "capture/CaptureCommand.h"

#include "net/ShellWords.h"

namespace {

// The filter in tcpdump's language, "ip and tcp port 80" and the like.
std::string TcpdumpFilter(const CaptureFilterSettings& settings)
{
    std::string filter = settings.ipVersion == 6 ? "ip6 and " : "ip and ";
    switch (settings.protocolFilter) {
    case CaptureProtocol::Tcp: filter += "tcp "; break;
    case CaptureProtocol::Udp: filter += "udp "; break;
    case CaptureProtocol::TcpAndUdp: filter += "(tcp or udp) and "; break;
    }
    switch (settings.portDirection) {
    case PortDirection::Source: filter += "src "; break;
    case PortDirection::Destination: filter += "dst "; break;
    case PortDirection::Either: break;
    }
    return filter + "port " + std::to_string(settings.portFilter);
}

}  // namespace

std::string TcpdumpCommandLine(const std::string& interface, const CaptureSettings& settings)
{
    const std::string filter = TcpdumpFilter(settings);
    switch (settings.displayFormat) {
    case CaptureView::HexDump: return ShellCommand({"tcpdump", "-n", "-X", "-i", interface, filter});
    case CaptureView::Text: return ShellCommand({"tcpdump", "-n", "-A", "-i", interface, filter});
    case CaptureView::None: break;
    }
    return ShellCommand({"tcpdump", "-n", "-i", interface, filter});
}
