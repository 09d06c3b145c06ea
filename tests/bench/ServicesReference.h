#pragma once

// The port services report as the C library's services look-up gives it: one
// getservbyport(port, NULL) for each port from 0 to 9999, which rereads the
// services file on each call. The reference for the report read in one pass.
#include <netdb.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string GetservbyportReport()
{
    std::string text = "[PORT SERVICES]\r\n\r\nPort\tService\t\tProtocol\r\n";
    for (int port = 0; port < 10000; ++port) {
        if (const servent* s = getservbyport(htons(std::uint16_t(port)), nullptr)) {
            char line[256];
            std::snprintf(line, sizeof line, "%d\t%-20s%s\r\n", port, s->s_name, s->s_proto);
            text += line;
        }
    }
    return text;
}
