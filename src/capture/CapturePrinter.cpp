// The capture pane's text for one packet. An IPv6 packet's addresses are
// written with their ports as [2001:db8::1]:80.
//
// Hex dump, one line per 16 payload bytes (columns from 0):
//   0-5    offset, at least three lower-case hex digits, ":  "
//   6-29   cells 0-7, "xx " each (three blanks past the payload's end)
//   30     one extra blank
//   31-54  cells 8-15
//   55     one blank
//   56-    the line's bytes as text, "." for all but 0x20-0x7E; no padding
// then CR LF, so a full line is 72 characters and CR LF.
#include "capture/CapturePrinter.h"

#include <cstdio>
#include <cstring>

#include "capture/CapturedPacket.h"
#include "net/ByteText.h"
#include "net/HostAddress.h"
#include "net/IpAddress.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool Printable(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// One end of the packet: 192.0.2.1:80, or [2001:db8::1]:80.
std::string EndpointText(const CapturedPacket& packet, bool source)
{
    const std::uint16_t port = source ? packet.sourcePort : packet.destPort;
    if (packet.ipVersion == 6) {
        in6_addr address;
        std::memcpy(&address, source ? packet.sourceAddress6 : packet.destAddress6, sizeof address);
        return IpPortText(IpAddress::V6(address), port);
    }
    char text[20] = {};
    AddressToText(source ? packet.sourceAddress : packet.destAddress, text, sizeof text);
    return text + (":" + std::to_string(port));
}

void AppendHexDump(const CapturedPacket& packet, std::string& out)
{
    const int length = packet.payloadLength;
    for (int offset = 0; offset < length; offset += 16) {
        char line[100];
        int n = std::snprintf(line, sizeof line, "%-.3x:  ", unsigned(offset));
        for (int i = 0; i < 16; ++i) {
            if (offset + i < length) {
                const std::uint8_t b = packet.payload[offset + i];
                line[n++] = kHexDigits[b >> 4];
                line[n++] = kHexDigits[b & 0x0F];
                line[n++] = ' ';
            } else {
                line[n++] = ' ';
                line[n++] = ' ';
                line[n++] = ' ';
            }
            if (i == 7)
                line[n++] = ' ';
        }
        line[n++] = ' ';
        for (int i = 0; i < 16 && offset + i < length; ++i) {
            const std::uint8_t b = packet.payload[offset + i];
            line[n++] = Printable(b) ? char(b) : '.';
        }
        line[n++] = '\r';
        line[n++] = '\n';
        out.append(line, std::size_t(n));
    }
}

void AppendText(const CapturedPacket& packet, std::string& out)
{
    // Every zero byte of the payload becomes "." too, so the text is the whole payload.
    const std::size_t start = out.size();
    out.append(reinterpret_cast<const char*>(packet.payload), packet.payloadLength);
    MaskUnprintable(out.data() + start, packet.payloadLength);
    out.append("\r\n");
}

}  // namespace

void PrintCapturedPacket(const CapturedPacket& packet, int number, const CaptureSettings& settings,
                         std::string& out)
{
    char line[100];
    out.append(line, std::size_t(std::snprintf(line, sizeof line, "PACKET No: %d\r\n", number)));
    if (settings.showPacketInfo) {
        out += "Source: " + EndpointText(packet, true) + "\r\n";
        out += "Dest  : " + EndpointText(packet, false) + "\r\n";
        out.append(line, std::size_t(std::snprintf(line, sizeof line, "Protocol: %s,  Data Bytes: %d\r\n",
                                                   packet.isTcp ? "TCP" : "UDP", int(packet.payloadLength))));
    }
    if (settings.displayFormat == CaptureView::HexDump)
        AppendHexDump(packet, out);
    else if (settings.displayFormat == CaptureView::Text)
        AppendText(packet, out);
}
