#pragma once

#include <string>

struct CapturedPacket;
struct CaptureSettings;

// Appended when a read from the capture fails; the capture then ends.
inline constexpr const char kCaptureSocketErrorText[] = "\r\n\r\nSocket Error Encountered!";

// Appends the text of one packet to out, as the capture pane shows it:
// "PACKET No: n", the Source, Dest and Protocol lines when settings ask for
// them, then the payload as a hex dump, as text, or not at all. CR LF line ends.
void PrintCapturedPacket(const CapturedPacket& packet, int number, const CaptureSettings& settings,
                         std::string& out);
