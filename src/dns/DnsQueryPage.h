#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "dns/DnsMessage.h"

#include "ui/ToolPage.h"

class QHostInfo;

// The record types the page asks for, as their QTYPE; None for no choice.
enum class DnsQueryType : std::uint16_t {
    None = 0,
    A = kDnsTypeA,
    NS = kDnsTypeNS,
    CNAME = kDnsTypeCNAME,
    SOA = kDnsTypeSOA,
    PTR = kDnsTypePTR,
    HINFO = kDnsTypeHINFO,
    MX = kDnsTypeMX,
};

// A query as the controls gave it when QUERY was pressed.
struct DnsQueryRequest {
    std::string name;
    std::string server;
    DnsQueryType type = DnsQueryType::None;
};

// The Dns Query page: one query of a chosen record type to a chosen server on
// a worker task (QUERY/STOP), and Resolve Name, a cancellable lookup through
// the system resolver that completes on the user-interface thread. Each of the
// two refuses to start while the other runs.
class DnsQueryPage : public ToolPage {
    Q_OBJECT
public:
    explicit DnsQueryPage(QWidget* parent);

    void AbandonTasks() override;

private:
    void OnGetDefaultDns();
    void OnQueryButton();
    void OnResolveName();
    void OnResolveComplete(const QHostInfo& info);
    void RunQuery(const DnsQueryRequest& query, TaskContext& context);
    void CancelLookup();

    int lookupId_ = -1;  // the outstanding lookup; -1 when none
    QString lookupAddress_;  // the dotted address a lookup by address asks about; empty for a name
};
