#pragma once

// Driving the Ping and Traceroute pages, and the texts their reports begin with.
#include <regex>

#include "icmp/EchoToolPage.h"
#include "support/GuiTest.h"

inline void StartQuery(EchoToolPage* page, const QString& host)
{
    page->Item<QComboBox>(EchoToolPage::kHostBox)->setEditText(host);
    page->Item<QPushButton>(EchoToolPage::kQueryButton)->click();
}

// Waits for the query to end: the pane's text, marked when the task did not end in time.
inline std::string Finished(EchoToolPage* page, int timeoutMs = 20000)
{
    const bool ended = WaitForCaption(page->Item<QPushButton>(EchoToolPage::kQueryButton), "QUERY", timeoutMs);
    return PaneText(page) + (ended ? "" : "\n[still running]");
}

inline std::string Query(EchoToolPage* page, const QString& host, int timeoutMs = 20000)
{
    StartQuery(page, host);
    return Finished(page, timeoutMs);
}

inline std::string PingHead(const std::string& host, const std::string& address)
{
    return "\tResolving Address For " + host + "...\r\n\t[" + address + "]\r\n\r\n\tPinging Host: [" + address + "]...\r\n";
}

inline std::string TraceHead(const std::string& host, const std::string& address = "")
{
    return "\tResolving Address For " + host + "...\r\n\t[" + (address.empty() ? host : address) +
           "]\r\n\r\nBegining Trace...\r\n\r\nTTL  Host             Ms     Status\r\n-----------------------------------\r\n";
}

// Whether pane is the whole report of a ping to an address that answered.
inline bool IsPingAnswer(const std::string& pane, const std::string& address)
{
    const std::string head = PingHead(address, address);
    return pane.starts_with(head) && std::regex_match(pane.substr(head.size()), std::regex("\t\\d+ Milliseconds"));
}

// A trace's pane with each round trip written as "#" and its padding as 6 blanks.
inline std::string WithoutRoundTrips(const std::string& pane)
{
    return std::regex_replace(pane, std::regex(R"((\n\d+ +\S+ +)-?\d+ +)"), "$1#      ");
}
