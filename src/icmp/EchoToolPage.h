#pragma once

#include <string>

#include "icmp/EchoReports.h"
#include "templates/ControlIds.h"
#include "ui/ToolPage.h"

class CancelToken;
class EchoProbe;

// The Ping and Traceroute pages: a host box, QUERY, and a task that runs one
// echo tool against the host and writes its report into the pane.
class EchoToolPage : public ToolPage {
    Q_OBJECT
public:
    using Tool = void (*)(const std::string& host, const OutputSink& out, EchoProbe& probe,
                          const CancelToken* token);

    using CommandLineOf = std::string (*)(const std::string& host);

    EchoToolPage(int templateId, Tool tool, CommandLineOf commandLine, QWidget* parent);

    // Tests give the page a probe of theirs; otherwise each task opens its own.
    void UseProbe(EchoProbe* probe) { probe_ = probe; }

    bool OpenTarget(const HostTarget& target) override;
    bool Busy() const override;

    // Both templates place these two at the same ids.
    static constexpr int kHostBox = PingControls::kHostBox;
    static constexpr int kQueryButton = PingControls::kQueryButton;

private:
    void OnQueryButton();

    Tool tool_;
    CommandLineOf commandLine_;
    EchoProbe* probe_ = nullptr;
};

// One echo to a host: its round-trip time, or "Ping Failed!".
class PingPage : public EchoToolPage {
    Q_OBJECT
public:
    explicit PingPage(QWidget* parent = nullptr);
};

// The routers on the way to a host, one echo per time-to-live.
class TracePage : public EchoToolPage {
    Q_OBJECT
public:
    explicit TracePage(QWidget* parent = nullptr);
};
