#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "dns/DnsQueryRequest.h"

#include "ui/ToolPage.h"


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
