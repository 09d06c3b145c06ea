#pragma once

#include <cstdint>

// The process-wide binding to the ICMP echo component. It is written only by
// LoadIcmpLibrary and FreeIcmpLibrary, at start-up and at exit, while no worker
// thread exists; the echo service only reads it.

using IcmpHandle = std::intptr_t;
inline constexpr IcmpHandle kInvalidIcmpHandle = -1;

// The request options of one echo.
struct IpOptionInformation {
    std::uint8_t Ttl;
    std::uint8_t Tos;
    std::uint8_t Flags;
    std::uint8_t OptionsSize;
    std::uint8_t* OptionsData;
};

// One reply record as the echo component writes it into the caller's buffer.
struct IcmpEchoReply {
    std::uint32_t Address;        // network byte order
    std::uint32_t Status;         // IP status code, 0 = echo reply
    std::uint32_t RoundTripTime;  // milliseconds
    std::uint16_t DataSize;
    std::uint16_t Reserved;
    void* Data;
    IpOptionInformation Options;
};

// The IP status codes of the echo interface.
inline constexpr std::uint32_t kIpSuccess = 0;
inline constexpr std::uint32_t kIpBufTooSmall = 11001;
inline constexpr std::uint32_t kIpDestNetUnreachable = 11002;
inline constexpr std::uint32_t kIpDestHostUnreachable = 11003;
inline constexpr std::uint32_t kIpDestProtUnreachable = 11004;
inline constexpr std::uint32_t kIpDestPortUnreachable = 11005;
inline constexpr std::uint32_t kIpPacketTooBig = 11009;
inline constexpr std::uint32_t kIpReqTimedOut = 11010;
inline constexpr std::uint32_t kIpBadRoute = 11012;
inline constexpr std::uint32_t kIpTtlExpiredTransit = 11013;
inline constexpr std::uint32_t kIpTtlExpiredReassem = 11014;
inline constexpr std::uint32_t kIpParamProblem = 11015;
inline constexpr std::uint32_t kIpSourceQuench = 11016;
inline constexpr std::uint32_t kIpGeneralFailure = 11050;

using IcmpCreateFileFn = IcmpHandle (*)();
using IcmpCloseHandleFn = int (*)(IcmpHandle);
// Sends one echo and waits up to timeoutMs; returns the number of reply records written.
using IcmpSendEchoFn = std::uint32_t (*)(IcmpHandle, std::uint32_t destination, const void* requestData,
                                         std::uint16_t requestSize, const IpOptionInformation* options,
                                         void* replyBuffer, std::uint32_t replySize, std::uint32_t timeoutMs);

struct IcmpLibrary {
    const void* handle = nullptr;  // non-null while bound
    IcmpCreateFileFn IcmpCreateFile = nullptr;
    IcmpCloseHandleFn IcmpCloseHandle = nullptr;
    IcmpSendEchoFn IcmpSendEcho = nullptr;
};

// Resolves an entry point by name, as a dynamic loader would; null when missing.
struct IcmpProvider {
    const void* (*open)();                                     // the "library"; null = not there
    void* (*lookup)(const void* library, const char* name);
    void (*release)(const void* library);
};

IcmpLibrary& TheIcmpLibrary();

// The echo component of this platform (IcmpEchoSocket.cpp).
const IcmpProvider& DefaultIcmpProvider();

// 1 when bound with all three entry points, 0 otherwise (the handle stays null).
int LoadIcmpLibrary(const IcmpProvider& provider = DefaultIcmpProvider());
void FreeIcmpLibrary();

// Guards: call the entry points only while the handle is non-null.
IcmpHandle GuardedIcmpCreateFile();
int GuardedIcmpCloseHandle(IcmpHandle handle);
std::uint32_t GuardedIcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                                  std::uint16_t requestSize, const IpOptionInformation* options,
                                  void* replyBuffer, std::uint32_t replySize, std::uint32_t timeoutMs);
