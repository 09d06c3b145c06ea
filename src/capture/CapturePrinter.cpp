// The capture pane's text for one packet.
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

#include "capture/CapturedPacket.h"
#include "net/HostAddress.h"
#include "net/ByteText.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool Printable(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

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
        char source[20];
        char dest[20];
        AddressToText(packet.sourceAddress, source, sizeof source);
        AddressToText(packet.destAddress, dest, sizeof dest);
        out.append(line, std::size_t(std::snprintf(line, sizeof line, "Source: %s:%d\r\n", source,
                                                   int(packet.sourcePort))));
        out.append(line, std::size_t(std::snprintf(line, sizeof line, "Dest  : %s:%d\r\n", dest,
                                                   int(packet.destPort))));
        out.append(line, std::size_t(std::snprintf(line, sizeof line, "Protocol: %s,  Data Bytes: %d\r\n",
                                                   packet.isTcp ? "TCP" : "UDP", int(packet.payloadLength))));
    }
    if (settings.displayFormat == CaptureView::HexDump)
        AppendHexDump(packet, out);
    else if (settings.displayFormat == CaptureView::Text)
        AppendText(packet, out);
}
