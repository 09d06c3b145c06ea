// Any frame of 0-2000 bytes through the decoder, the filter and every view of
// the printer: no read outside the frame, text within its bounds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/CapturePrinter.h"
#include "capture/CapturedPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > kCaptureFrameMax)
        return 0;
    // A copy of exactly the received length, so that AddressSanitizer sees any overread.
    std::vector<std::uint8_t> frame(data, data + size);
    static CapturedPacket packet;
    const int length = DecodeCapturedPacket(frame.data(), frame.size(), packet);
    if (length < 0 || std::size_t(length) > size || (length == 0 && packet.payloadLength != 0))
        std::abort();
    if (length == 0)
        return 0;
    const int headerEnd = TransportHeaderEnd(frame.data(), std::size_t(length));
    if (packet.payloadLength >= length || headerEnd + packet.payloadLength != length)
        std::abort();
    CaptureSettings settings;
    settings.portFilter = packet.destPort;
    if (!PassesCaptureFilter(packet, settings))
        std::abort();
    std::string out;
    for (int format = 0; format < 3; ++format) {
        settings.displayFormat = CaptureView(format);
        settings.showPacketInfo = format != 1;
        out.clear();
        PrintCapturedPacket(packet, 1, settings, out);
        const std::size_t lines = (packet.payloadLength + 15u) / 16u;
        if (format == 0 && out.size() > 200 + lines * 74)
            std::abort();
    }
    return 0;
}
