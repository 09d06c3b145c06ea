#include "dns/DnsQueryPage.h"

#include <arpa/inet.h>

#include <QComboBox>
#include <QHostAddress>
#include <QHostInfo>
#include <QPushButton>
#include <vector>

#include "dns/DnsMessage.h"
#include "hostcfg/ResolvConf.h"
#include "net/HostAddress.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

using namespace DnsQueryControls;

namespace {

const ToolPage::TaskButton kQueryTask{kQueryButton, "QUERY", "STOP", "\tOperation Aborted"};

constexpr int kTextBuffer = 300;   // the bounded reads of the two boxes, terminator included
constexpr int kRecordCapacity = 50;

// The type box's entries, in order.
constexpr DnsQueryType kTypes[] = {DnsQueryType::A,   DnsQueryType::NS,    DnsQueryType::CNAME, DnsQueryType::SOA,
                                   DnsQueryType::PTR, DnsQueryType::HINFO, DnsQueryType::MX};

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
    // The answer of a lookup given up is ignored when it comes, as the TCP
    // page ignores its own: the resolver cannot be interrupted anyway, and
    // abortHostLookup loses the answer's call object.
    lookupId_ = -1;
}

void DnsQueryPage::OnGetDefaultDns()
{
    auto* box = Item<QComboBox>(kServerBox);
    const std::string shown = ControlText(kServerBox, kTextBuffer);
    if (!shown.empty())
        AddToHistory(box, QString::fromStdString(shown));  // the server shown before stays in the list
    char text[50] = "";
    AddressToText(GetDefaultDnsServer(), text, sizeof text);
    box->setEditText(QString::fromLatin1(text));
}

void DnsQueryPage::OnQueryButton()
{
    if (lookupId_ >= 0) {
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
    // An unresolvable server gives 0 (or all ones), and the exchange then fails.
    request.serverAddress = LookupHostAddress(query.server.c_str(), &context.Token());
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
    if (lookupId_ >= 0) {
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

    lookupAddress_.clear();
    QString target;
    if (LooksLikeAddress(text)) {
        AppendOutput("\r\n\r\n\tResolving IP Address: ");
        AppendOutput(text);
        AppendOutput("\r\n\r\n\t");
        // As inet_addr reads it: a text that is no address asks about 255.255.255.255.
        char dotted[20] = "";
        AddressToText(inet_addr(text.c_str()), dotted, sizeof dotted);
        lookupAddress_ = QString::fromLatin1(dotted);
        target = lookupAddress_;
    } else {
        AppendOutput("\r\n\r\n\tResolving Domain Name: ");
        AppendOutput(text);
        AppendOutput("\r\n\r\n\t");
        target = QString::fromStdString(text);
    }
    lookupId_ = QHostInfo::lookupHost(target, this, [this](const QHostInfo& info) { OnResolveComplete(info); });
    if (lookupId_ < 0) {
        button->setText(QStringLiteral("Resolve Name"));
        AppendOutput("Unable To Carry Out Operation");
    }
}

void DnsQueryPage::OnResolveComplete(const QHostInfo& info)
{
    if (info.lookupId() != lookupId_)
        return;  // a lookup cancelled after its answer was already on its way
    lookupId_ = -1;
    Item<QPushButton>(kResolveButton)->setText(QStringLiteral("Resolve Name"));

    std::string result;
    if (info.error() == QHostInfo::NoError) {
        if (!lookupAddress_.isEmpty()) {
            // The resolver answers a failed reverse lookup with the address itself.
            const QString host = info.hostName();
            if (!host.isEmpty() && host != lookupAddress_)
                result = host.toStdString();
        } else {
            for (const QHostAddress& address : info.addresses()) {
                if (address.protocol() != QAbstractSocket::IPv4Protocol)
                    continue;
                char text[300] = "";
                if (AddressToText(htonl(address.toIPv4Address()), text, sizeof text))
                    result = text;
                break;
            }
        }
    }
    AppendOutput(result.empty() ? std::string_view("Resolution Failed") : std::string_view(result));
}
