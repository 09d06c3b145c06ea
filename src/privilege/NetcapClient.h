#pragma once

#include <sys/uio.h>

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "os/Fd.h"
#include "privilege/NetcapRequest.h"
#include "privilege/Privilege.h"

class CancelToken;

// The program's side of the privilege helper quorlix-netcap: starts it with
// one end of a socket pair as its standard input, sends the opening request
// and checks the answer. The helper never hands a socket out; a session goes
// on over the pair.

struct NetcapSession {
    PrivilegeFailure failure = PrivilegeFailure::HelperFailed;
    int error = 0;  // the helper's answer when failure is None: 0, or the errno it met
    Fd fd;          // the program's end of the pair while a session is open (error 0), else none
    pid_t pid = -1;
};

// Sends request to a new helper. For a kill the run is over when this returns
// (no fd); for a session that opened, fd is the pair to go on with, and
// CloseNetcapSession ends it.
NetcapSession OpenNetcapSession(const NetcapRequest& request, const CancelToken* token);
void CloseNetcapSession(NetcapSession& session);

// One message of a session into buffer: its size; 0 when the helper closed
// its end; -1 on error, a truncated message or one that carried descriptors
// (which are closed). Does not wait: EAGAIN leaves -1 with errno set.
long ReceiveNetcapMessage(int fd, void* buffer, std::size_t size);
// The same, scattered over partCount parts in order.
long ReceiveNetcapMessage(int fd, const iovec* parts, std::size_t partCount);

// The helper: <exe dir>/../libexec/quorlix/quorlix-netcap where there is one
// (installed), else the copy scripts/setup-helper.sh installs for a build
// tree, /usr/local/libexec/quorlix/quorlix-netcap; always an absolute path,
// empty when the program's own path cannot be read. Tests point it at a copy
// they prepared; set it before any worker asks for it.
std::string NetcapHelperPath();
void SetNetcapHelperPath(const std::string& path);

