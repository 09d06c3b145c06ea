#pragma once

#include <string>

#include "netcap/NetcapRequest.h"

class CancelToken;

// The program's side of the privilege helper: starts quorlix-netcap with one
// end of a socket pair as its standard input, sends one request and reads the
// answer, with the opened socket when the request was for one.
struct NetcapResult {
    enum class Outcome {
        Answered,       // the helper answered: error 0, or the errno it met (EPERM: no capability)
        HelperMissing,  // no executable helper at NetcapHelperPath()
        HelperFailed,   // it started but gave no valid answer in time, or the wait was cancelled
    };
    Outcome outcome = Outcome::HelperFailed;
    int error = 0;
    int fd = -1;  // the socket handed over (close-on-exec), owned by the caller; -1 otherwise
};

NetcapResult AskNetcap(const NetcapRequest& request, const CancelToken* token);

// Where the helper is looked for: beside the program's own executable, unless
// set otherwise (tests point it at a copy they prepared). Set it before any
// worker asks for it.
std::string NetcapHelperPath();
void SetNetcapHelperPath(const std::string& path);
