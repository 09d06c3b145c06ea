#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostinfo/SocketTable.h"

// The NetStat page's text: the connection tables as CR LF lines, and the
// connection read back from one of those lines for the kill.

// The state's name into buffer (size bytes, terminator included): nothing when
// buffer is null; otherwise as much of the name as fits, always terminated.
void TcpStateName(std::uint32_t state, char* buffer, std::size_t size);

// The part of a line that names its connection, "TCP  %-21s  %-21s  ": all
// but the state, which may change while the connection stays. An IPv6 end
// may be longer than its column, and the part with it: ConnectionChars gives
// the part's length for a line, kConnectionChars for any IPv4 one.
inline constexpr int kConnectionChars = 51;
int ConnectionChars(std::string_view line);

// The two heading lines, then one line per TCP row and per UDP row; a null
// table prints "No Data Available!" in place of its rows. An IPv6 end prints
// as "[address]:port", RFC 5952 text, a link-local address with its zone.
// With owners, each line also names the processes that hold its socket: a TCP
// line's state padded to 13 characters, a UDP line's "*.*" column, then two
// blanks and the owners, "-" for a socket not among them.
std::string ConnectionTableText(const std::vector<TcpRow>* tcp, const std::vector<UdpRow>* udp,
                                const SocketOwners* owners = nullptr);

// The same for the tables as the source gives them now, with the owners that
// ReadSocketOwners finds when programs is set.
std::string ConnectionTableText(SockDiagSource& source = KernelSockDiag(), bool programs = false);

// The ss command that lists the same sockets: TCP and UDP, listening or not,
// numeric, with their processes when programs is set.
std::string SsCommandLine(bool programs);

// A line without its owners: a TCP line up to the end of its state, any
// other up to the end of its second address column. A process's name is any
// text, so what a line says about its connection is read only from here.
std::string_view WithoutOwners(std::string_view line);

// The connection of a TCP line as ConnectionTableText prints it: local and
// remote address and port, state 12 (delete). False for text in any other
// layout: each piece must be a dotted IPv4 address or a port of 0 to 65535,
// or both ends bracketed IPv6 ones, which fill local6 and remote6.
bool ReadConnectionLine(std::string_view line, TcpRow* row);
