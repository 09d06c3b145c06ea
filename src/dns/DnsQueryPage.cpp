#include "dns/DnsQueryPage.h"

#include <arpa/inet.h>

#include <QComboBox>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <vector>

#include "dns/DnsMessage.h"
#include "hostcfg/ResolvConf.h"
#include "net/HostAddress.h"
#include "net/TargetText.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

using namespace DnsQueryControls;

namespace {

const ToolPage::TaskButton kQueryTask{kQueryButton, "QUERY", "STOP", "\tOperation Aborted"};

constexpr int kTextBuffer = 300;   // the bounded reads of the two boxes, terminator included
constexpr int kRecordCapacity = 50;

// The type box's entries, in order.
constexpr DnsQueryType kTypes[] = {DnsQueryType::A,   DnsQueryType::NS,    DnsQueryType::CNAME, DnsQueryType::SOA,
                                   DnsQueryType::PTR, DnsQueryType::HINFO, DnsQueryType::MX,    DnsQueryType::AAAA};

// Resolve Name's answer: the host name of an address; the first IPv4 address
// of a name, else its first IPv6 one. Empty when the resolver gives none.
std::string ResolveNameAnswer(const ResolveRequest& request, const CancelToken& token)
{
    if (!request.address.IsNone())
        return ResolveAddressName(request.address, &token);
    const std::vector<IpAddress> found = ResolveHostAddresses(request.name.c_str(), AF_UNSPEC, &token);
    return found.empty() ? std::string() : IpText(found.front());
}

}  // namespace

DnsQueryPage::DnsQueryPage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    Pane()->lower();
    Item<QComboBox>(kTypeBox)->setCurrentIndex(0);
    connect(Item<QPushButton>(kDefaultDnsButton), &QPushButton::clicked, this, &DnsQueryPage::OnGetDefaultDns);
    connect(Item<QPushButton>(kQueryButton), &QPushButton::clicked, this, &DnsQueryPage::OnQueryButton);
    connect(Item<QPushButton>(kResolveButton), &QPushButton::clicked, this, &DnsQueryPage::OnResolveName);
    OnGetDefaultDns();
}

void DnsQueryPage::AbandonTasks()
{
    CancelLookup();
    ToolPage::AbandonTasks();
}

void DnsQueryPage::CancelLookup()
{
    // The resolver cannot be interrupted: the task stops waiting for it at
    // once and its answer, when it comes, is dropped.
    if (auto task = lookup_.lock())
        task->Abandon();
    lookup_.reset();
    resolving_ = false;
}

bool DnsQueryPage::Busy() const
{
    return resolving_ || TaskRunning(kQueryTask);
}

bool DnsQueryPage::OpenTarget(const HostTarget& target)
{
    if (Busy())
        return false;
    const bool address = !target.address.IsNone();
    const DnsQueryType type = address ? DnsQueryType::PTR : DnsQueryType::A;
    Item<QComboBox>(kNameBox)->setEditText(
        QString::fromStdString(address ? ReverseLookupName(target.address) : target.host));
    Item<QComboBox>(kTypeBox)->setCurrentIndex(int(std::find(std::begin(kTypes), std::end(kTypes), type) - kTypes));
    Item<QPushButton>(kQueryButton)->click();
    return true;
}

void DnsQueryPage::OnGetDefaultDns()
{
    auto* box = Item<QComboBox>(kServerBox);
    const std::string shown = ControlText(kServerBox, kTextBuffer);
    if (!shown.empty())
        AddToHistory(box, QString::fromStdString(shown));  // the server shown before stays in the list
    // No server configured shows as 0.0.0.0.
    const IpAddress server = DefaultDnsServerAddress();
    box->setEditText(QString::fromStdString(server.IsNone() ? IpText(IpAddress::V4(0)) : IpText(server)));
}

void DnsQueryPage::OnQueryButton()
{
    if (resolving_) {
        Message(QStringLiteral("Name Resolution Currently In Progress"), MessageKind::Notice);
        return;
    }
    ToolPage::OnQueryButton(kQueryTask, [this]() -> WorkerTask::Job {
        DnsQueryRequest request;
        request.name = ControlText(kNameBox, kTextBuffer);
        if (!request.name.empty()) {
            AddToHistory(Item<QComboBox>(kNameBox), QString::fromStdString(request.name));
            request.server = ControlText(kServerBox, kTextBuffer);
            if (!request.server.empty())
                AddToHistory(Item<QComboBox>(kServerBox), QString::fromStdString(request.server));
            const int index = Item<QComboBox>(kTypeBox)->currentIndex();
            request.type = index >= 0 && index < int(std::size(kTypes)) ? kTypes[index] : DnsQueryType::None;
            if (!request.server.empty())  // else the pane keeps its text
                Pane()->SetCommandLine(DigCommandLine(request));
        }
        return [this, request](TaskContext& context) { RunQuery(request, context); };
    });
}

// The query task: what it needs of the controls is in request.
void DnsQueryPage::RunQuery(const DnsQueryRequest& query, TaskContext& context)
{
    if (query.name.empty())
        return;
    if (query.server.empty()) {
        context.Post([this] {
            Message(QStringLiteral("No Dns Server Specified!"), MessageKind::Failure);
            Item<QComboBox>(kServerBox)->setFocus();
        });
        return;
    }

    std::vector<DnsRecord> records(kRecordCapacity);
    DnsRequest request{};
    request.id = 1234;
    request.recursionDesired = 1;
    request.timeoutMs = 3000;
    request.name = query.name.c_str();
    request.count = kRecordCapacity;
    request.records = records.data();
    // An IPv6 literal or a name with IPv6 addresses only is asked over IPv6.
    // An unresolvable server gives none (or all ones), and the exchange then fails.
    request.server = LookupHost(query.server, &context.Token());
    request.type = std::uint16_t(query.type);

    context.ClearOutput();
    context.AppendOutput("[DNS QUERY: ");
    context.AppendOutput(query.name);
    context.AppendOutput("]\r\n\r\n");

    if (RunDnsQuery(&request, &context.Token()) != DnsQueryResult::Answered) {
        context.Post([this] { Message(QStringLiteral("Socket Error!"), MessageKind::Failure); });
        return;
    }
    if (const std::string line = DnsResponseCodeLine(request.responseCode); !line.empty())
        context.AppendOutput(line);
    if (request.count == 0) {
        context.AppendOutput("No Records Found!");
        return;
    }

    static const char* const kHeadings[] = {"[Authorititive Answers]\r\n",
                                            "[Authorititive Answers Can Be Found At]\r\n",
                                            "[Additional Records]\r\n"};
    // Only what was decoded: a cut or hostile reply announces more than it holds.
    const int stored = std::min(request.stored, kRecordCapacity);
    char text[1000];
    for (std::uint8_t section = 0; section < 3; ++section) {
        context.AppendOutput(kHeadings[section]);
        for (int i = 0; i < stored; ++i) {
            if (records[i].section != section)
                continue;
            FormatDnsRecord(records[i], text, sizeof text);
            context.AppendOutput(text);
        }
        context.AppendOutput("\r\n");
    }
}

void DnsQueryPage::OnResolveName()
{
    if (TaskRunning(kQueryTask)) {
        Message(QStringLiteral("DNS Query Currently In Progress"), MessageKind::Notice);
        return;
    }
    auto* button = Item<QPushButton>(kResolveButton);
    if (resolving_) {
        CancelLookup();
        AppendOutput("Operation Cancelled By User");
        button->setText(QStringLiteral("Resolve Name"));
        return;
    }

    const std::string text = ControlText(kNameBox, kTextBuffer);
    if (text.empty())
        return;
    AddToHistory(Item<QComboBox>(kNameBox), QString::fromStdString(text));
    ClearOutput();
    AppendOutput("Resolving: ");
    button->setText(QStringLiteral("Stop"));

    ResolveRequest request;
    if (LooksLikeAddress(text)) {
        AppendOutput("\r\n\r\n\tResolving IP Address: ");
        AppendOutput(text);
        AppendOutput("\r\n\r\n\t");
        // An IPv6 literal as it stands; anything else as inet_addr reads it,
        // so a text that is no address asks about 255.255.255.255.
        request.address = ParseIpv6Literal(text).value_or(IpAddress::V4(inet_addr(text.c_str())));
    } else {
        AppendOutput("\r\n\r\n\tResolving Domain Name: ");
        AppendOutput(text);
        AppendOutput("\r\n\r\n\t");
        // An international name as the resolver knows it; one that has no such form as typed.
        const QByteArray ace = QUrl::toAce(QString::fromStdString(text));
        request.name = ace.isEmpty() ? text : ace.toStdString();
    }
    Pane()->SetCommandLine(ResolveCommandLine(request));
    lookup_ = StartTask([this, request](TaskContext& context) {
        context.Post([this, result = ResolveNameAnswer(request, context.Token())] { OnResolveComplete(result); });
    });
    resolving_ = !lookup_.expired();
    if (!resolving_) {
        button->setText(QStringLiteral("Resolve Name"));
        AppendOutput("Unable To Carry Out Operation");
    }
}

void DnsQueryPage::OnResolveComplete(const std::string& result)
{
    lookup_.reset();
    resolving_ = false;
    Item<QPushButton>(kResolveButton)->setText(QStringLiteral("Resolve Name"));
    AppendOutput(result.empty() ? std::string_view("Resolution Failed") : std::string_view(result));
}
