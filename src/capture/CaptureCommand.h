#pragma once

#include <string>

#include "capture/CapturedPacket.h"

// The tcpdump command that captures what a capture of these settings on this
// interface keeps, unnamed, its payload shown as the display format shows it
// (hex with text for the hex dump, text alone, or none).
std::string TcpdumpCommandLine(const std::string& interface, const CaptureSettings& settings);
