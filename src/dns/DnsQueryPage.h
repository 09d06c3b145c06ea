#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "dns/DnsMessage.h"
#include "net/IpAddress.h"

#include "ui/ToolPage.h"


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
    AAAA = kDnsTypeAAAA,
};

// A query as the controls gave it when QUERY was pressed.
struct DnsQueryRequest {
    std::string name;
    std::string server;
    DnsQueryType type = DnsQueryType::None;
};

// What Resolve Name looks up: the host name of an address, or the addresses
// of a name (an ASCII name as the resolver takes it).
struct ResolveRequest {
    IpAddress address;  // none for a look-up by name
    std::string name;
};

// The Dns Query page: one query of a chosen record type to a chosen server on
// a worker task (QUERY/STOP), and Resolve Name, a cancellable lookup through
// the system resolver on a task of its own, whose answer the page prints. Each
// of the two refuses to start while the other runs.
class DnsQueryPage : public ToolPage {
    Q_OBJECT
public:
    explicit DnsQueryPage(QWidget* parent);

    void AbandonTasks() override;
    // An address asks PTR for its reverse name, a name asks A.
    bool OpenTarget(const HostTarget& target) override;
    bool Busy() const override;

private:
    void OnGetDefaultDns();
    void OnQueryButton();
    void OnResolveName();
    void OnResolveComplete(const std::string& result);
    void RunQuery(const DnsQueryRequest& query, TaskContext& context);
    void CancelLookup();

    std::weak_ptr<WorkerTask> lookup_;  // the outstanding lookup
    bool resolving_ = false;            // Resolve Name reads "Stop"
};
