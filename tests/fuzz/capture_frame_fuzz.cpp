// Any frame of up to 2000 bytes through the decoder, the filter and every view: no read outside it, text within bounds.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/CapturePrinter.h"
#include "capture/CapturedPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> frame(data, data + std::min<std::size_t>(size, kCaptureFrameMax));  // exact size, for AddressSanitizer
    static CapturedPacket packet;
    const int length = DecodeCapturedPacket(frame.data(), frame.size(), packet);
    if (length < 0 || std::size_t(length) > frame.size() || (length == 0) != (packet.payloadLength == 0) ||
        (length && TransportHeaderEnd(frame.data(), std::size_t(length)) + packet.payloadLength != length))
        std::abort();
    CaptureSettings settings;
    settings.portFilter = packet.destPort;
    settings.ipVersion = std::uint8_t(10 - packet.ipVersion);  // the other IP version's capture never keeps it
    if (length && PassesCaptureFilter(packet, settings))
        std::abort();
    settings.ipVersion = packet.ipVersion;
    if (length && !PassesCaptureFilter(packet, settings))
        std::abort();
    for (int format = 0; length && format < 3; ++format) {
        settings.displayFormat = CaptureView(format);
        std::string out;
        PrintCapturedPacket(packet, 1, settings, out);
        if (out.size() > 200 + (packet.payloadLength + 15u) / 16u * 74)
            std::abort();
    }
    return 0;
}
