// The Dns Query page against a real DNS server (NSD on a loopback address of
// this run, started and stopped here) and against scripted servers on port 53.
// Every expected record is also checked against what dig reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dns/DnsQueryPage.h"
#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"
#include "support/GuiTest.h"

namespace {

using Lines = std::vector<std::string>;

std::string g_nsdAddress;   // NSD of this run
std::string g_fakeAddress;  // the scripted servers of this run
std::string g_nsdDir;
std::string g_skip;

std::string RunCommand(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

std::string NsdScript()
{
    return std::string(QUORLIX_SOURCE_DIR) + "/scripts/peers/nsd.sh";
}

// The pane text of a query whose reply holds these records, section by section.
std::string Expected(const std::string& name, const Lines& answers, const Lines& authority, const Lines& additional)
{
    std::string text = "[DNS QUERY: " + name + "]\r\n\r\n[Authorititive Answers]\r\n";
    for (const auto& l : answers)
        text += l;
    text += "\r\n[Authorititive Answers Can Be Found At]\r\n";
    for (const auto& l : authority)
        text += l;
    text += "\r\n[Additional Records]\r\n";
    for (const auto& l : additional)
        text += l;
    return text + "\r\n";
}

std::string StripDot(std::string s)
{
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

std::string Unquote(std::string s)
{
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        return s.substr(1, s.size() - 2);
    return s;
}

// One section as dig shows it, in the page's words.
Lines DigSection(const std::string& name, const std::string& type, const char* section)
{
    Lines lines;
    std::istringstream out(RunCommand("dig +noedns +tries=1 +time=2 +noall +" + std::string(section) + " @" +
                                      g_nsdAddress + " " + name + " " + type));
    std::string line;
    while (std::getline(out, line)) {
        std::istringstream f(line);
        std::string owner, ttl, klass, rtype;
        if (!(f >> owner >> ttl >> klass >> rtype))
            continue;
        std::vector<std::string> d;
        for (std::string w; f >> w;)
            d.push_back(w);
        char text[1200];
        if (rtype == "A" && d.size() == 1)
            std::snprintf(text, sizeof text, "A: address: %s\r\n", d[0].c_str());
        else if (rtype == "NS" && d.size() == 1)
            std::snprintf(text, sizeof text, "NS: nsname: %s\r\n", StripDot(d[0]).c_str());
        else if (rtype == "CNAME" && d.size() == 1)
            std::snprintf(text, sizeof text, "CNAME: cname: %s\r\n", StripDot(d[0]).c_str());
        else if (rtype == "PTR" && d.size() == 1)
            std::snprintf(text, sizeof text, "PTR: ptrname: %s\r\n", StripDot(d[0]).c_str());
        else if (rtype == "HINFO" && d.size() == 2)
            std::snprintf(text, sizeof text, "HINFO: cpu: %s, os: %s\r\n", Unquote(d[0]).c_str(), Unquote(d[1]).c_str());
        else if (rtype == "MX" && d.size() == 2)
            std::snprintf(text, sizeof text, "MX: Preference: %s, Exchange: %s\r\n", d[0].c_str(), StripDot(d[1]).c_str());
        else if (rtype == "SOA" && d.size() == 7)
            std::snprintf(text, sizeof text,
                          "SOA:\tmname: %s,\r\n\tpname: %s,\r\n\tserial: %d,\r\n\trefresh: %d,\r\n\tretry: %d,\r\n"
                          "\texpire: %d,\r\n\tminimum: %d\r\n",
                          StripDot(d[0]).c_str(), StripDot(d[1]).c_str(), int(std::stoul(d[2])),
                          int(std::stoul(d[3])), int(std::stoul(d[4])), int(std::stoul(d[5])), int(std::stoul(d[6])));
        else
            std::snprintf(text, sizeof text, "Unknowns Record Type\r\n");
        lines.push_back(text);
    }
    return lines;
}

class DnsPeer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0) {
            g_skip = "needs root: the servers listen on port 53";
            return;
        }
        if (RunCommand("command -v nsd >/dev/null && command -v dig >/dev/null && echo ok") != "ok\n") {
            g_skip = "needs nsd and dig (scripts/install-deps.sh)";
            return;
        }
        // A run that died (a crash, a sanitizer's abort) could not stop its NSD.
        for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("quorlix-nsd-", 0) == 0 && kill(std::atoi(name.c_str() + 12), 0) != 0)
                std::system((NsdScript() + " stop " + entry.path().string() + " && rm -rf " + entry.path().string()).c_str());
        }
        // Addresses of this run only, so that parallel runs do not meet.
        const int pid = int(getpid());
        const std::string tail = "." + std::to_string(pid / 250 % 250 + 1) + "." + std::to_string(pid % 250 + 1);
        g_nsdAddress = "127.53" + tail;
        g_fakeAddress = "127.54" + tail;
        g_nsdDir = "/tmp/quorlix-nsd-" + std::to_string(pid);
        if (std::system((NsdScript() + " start " + g_nsdAddress + " " + g_nsdDir).c_str()) != 0)
            g_skip = "NSD did not start";
    }
    static void TearDownTestSuite()
    {
        if (!g_nsdDir.empty()) {
            std::system((NsdScript() + " stop " + g_nsdDir + " && rm -rf " + g_nsdDir).c_str());
            g_nsdDir.clear();
        }
    }
    void SetUp() override
    {
        if (!g_skip.empty())
            GTEST_SKIP() << g_skip;
        page = std::make_unique<DnsQueryPage>(nullptr);
    }

    QPushButton* Button(int id) { return page->Item<QPushButton>(id); }

    // Types the query as a user would and waits for the task to end.
    std::string Query(const std::string& server, const std::string& name, int typeIndex)
    {
        page->Item<QComboBox>(DnsQueryPage::kServerBox)->setEditText(QString::fromStdString(server));
        page->Item<QComboBox>(DnsQueryPage::kNameBox)->setEditText(QString::fromStdString(name));
        page->Item<QComboBox>(DnsQueryPage::kTypeBox)->setCurrentIndex(typeIndex);
        Button(DnsQueryPage::kQueryButton)->click();
        EXPECT_TRUE(WaitForCaption(Button(DnsQueryPage::kQueryButton), QStringLiteral("QUERY"), 10000));
        return PaneText(page.get());
    }

    MessageRecorder messages;
    std::unique_ptr<DnsQueryPage> page;
};

enum TypeIndex { A, NS, CNAME, SOA, PTR, HINFO, MX };
const char* const kTypeNames[] = {"A", "NS", "CNAME", "SOA", "PTR", "HINFO", "MX"};

struct Case {
    const char* name;
    TypeIndex type;
    Lines answers, authority, additional;
};

const Lines kZoneNs = {"NS: nsname: ns1.example.test\r\n", "NS: nsname: ns2.example.test\r\n"};
const Lines kZoneNsAddresses = {"A: address: 127.0.0.2\r\n", "A: address: 127.0.0.3\r\n"};
const std::string kZoneSoa =
    "SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: 2024010101,\r\n"
    "\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300\r\n";

}  // namespace

TEST_F(DnsPeer, EveryTypeAsTheServerHoldsIt)
{
    const Case cases[] = {
        {"host1.example.test", A, {"A: address: 127.0.0.10\r\n"}, kZoneNs, kZoneNsAddresses},
        {"example.test", NS, kZoneNs, {}, kZoneNsAddresses},
        {"www.example.test", CNAME, {"CNAME: cname: host1.example.test\r\n"}, kZoneNs, kZoneNsAddresses},
        {"www.example.test", A, {"CNAME: cname: host1.example.test\r\n", "A: address: 127.0.0.10\r\n"}, kZoneNs,
         kZoneNsAddresses},
        {"example.test", SOA, {kZoneSoa}, kZoneNs, kZoneNsAddresses},
        {"10.0.0.127.in-addr.arpa", PTR, {"PTR: ptrname: host1.example.test\r\n"},
         {"NS: nsname: ns1.example.test\r\n"}, {}},
        {"host1.example.test", HINFO, {"HINFO: cpu: PC-Intel, os: Linux\r\n"}, kZoneNs, kZoneNsAddresses},
        {"example.test", MX,
         {"MX: Preference: 10, Exchange: mail.example.test\r\n", "MX: Preference: 20, Exchange: mail2.example.test\r\n"},
         kZoneNs,
         {"A: address: 127.0.0.25\r\n", "A: address: 127.0.0.26\r\n", "A: address: 127.0.0.2\r\n",
          "A: address: 127.0.0.3\r\n"}},
        // A serial with all bits set prints as -1.
        {"serial.test", SOA,
         {"SOA:\tmname: ns1.serial.test,\r\n\tpname: admin.serial.test,\r\n\tserial: -1,\r\n\trefresh: 7200,\r\n"
          "\tretry: 900,\r\n\texpire: 1209600,\r\n\tminimum: 60\r\n"},
         {"NS: nsname: ns1.serial.test\r\n"},
         {"A: address: 127.0.0.2\r\n"}},
        // A name that does not exist: the zone's SOA under the authority heading.
        {"nothere.example.test", A, {}, {kZoneSoa}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + kTypeNames[c.type]);
        const std::string pane = Query(g_nsdAddress, c.name, c.type);
        EXPECT_EQ(pane, Expected(c.name, c.answers, c.authority, c.additional));
        EXPECT_EQ(pane, Expected(c.name, DigSection(c.name, kTypeNames[c.type], "answer"),
                                 DigSection(c.name, kTypeNames[c.type], "authority"),
                                 DigSection(c.name, kTypeNames[c.type], "additional")));
    }
    EXPECT_TRUE(messages.Texts().isEmpty()) << messages.Texts().join(", ").toStdString();

    // The zone's TXT record, which the page cannot ask for, is there as well.
    EXPECT_EQ(DigSection("example.test", "TXT", "answer"), Lines{"Unknowns Record Type\r\n"});
}

TEST_F(DnsPeer, SixtyRecordsArriveFiftyArePrinted)
{
    // Sixty A records do not fit into a UDP reply of 512 bytes: NSD sends the
    // truncated reply without them (as dig shows), and the page finds none.
    EXPECT_EQ(Query(g_nsdAddress, "many.example.test", A), "[DNS QUERY: many.example.test]\r\n\r\nNo Records Found!");
    EXPECT_NE(RunCommand("dig +noedns +ignore +tries=1 @" + g_nsdAddress + " many.example.test A")
                  .find("flags: qr aa tc rd; QUERY: 1, ANSWER: 0"),
              std::string::npos);

    // A scripted server sends all sixty, as records of 12 bytes.
    FakeDnsServer server(g_fakeAddress, 53, [](const std::vector<std::uint8_t>& q) {
        DnsReplyBuilder b;
        b.Header(1234, 0x8580, 1, 60, 0, 0);
        b.bytes.insert(b.bytes.end(), q.begin() + 12, q.end());
        for (std::uint32_t i = 1; i <= 60; ++i)
            b.ARecord(0x7F010000 | i);
        return std::vector<FakeDnsServer::Datagram>{{b.bytes}};
    });
    Lines fifty;
    for (int i = 1; i <= 50; ++i)
        fifty.push_back("A: address: 127.1.0." + std::to_string(i) + "\r\n");
    EXPECT_EQ(Query(g_fakeAddress, "many.example.test", A), Expected("many.example.test", fifty, {}, {}));
}

TEST_F(DnsPeer, SilentServerGivesSocketErrorAfterThreeSeconds)
{
    FakeDnsServer silent(g_fakeAddress, 53, nullptr);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(Query(g_fakeAddress, "host1.example.test", A), "[DNS QUERY: host1.example.test]\r\n\r\n");
    EXPECT_GE(timer.elapsed(), 2900);
    EXPECT_EQ(messages.Texts(), QStringList{QStringLiteral("Socket Error!")});
    EXPECT_EQ(silent.Queries(), 1);
}

TEST_F(DnsPeer, StopEndsTheWaitAtOnce)
{
    FakeDnsServer silent(g_fakeAddress, 53, nullptr);
    page->Item<QComboBox>(DnsQueryPage::kServerBox)->setEditText(QString::fromStdString(g_fakeAddress));
    page->Item<QComboBox>(DnsQueryPage::kNameBox)->setEditText(QStringLiteral("host1.example.test"));
    Button(DnsQueryPage::kQueryButton)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.Queries() == 1; }, 5000));
    Button(DnsQueryPage::kQueryButton)->click();
    EXPECT_EQ(Button(DnsQueryPage::kQueryButton)->text(), QStringLiteral("QUERY"));
    EXPECT_EQ(PaneText(page.get()), "[DNS QUERY: host1.example.test]\r\n\r\n\tOperation Aborted");

    // Closing the page joins its task: the cancelled wait has already ended.
    QElapsedTimer timer;
    timer.start();
    page.reset();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(messages.Texts().isEmpty());
}
