// The Dns Query page against a real DNS server (NSD on a loopback address of
// this run, started and stopped here) and against scripted servers on port 53.
// Every expected record is also checked against what dig reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

#include "dns/DnsQueryPage.h"
#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"
#include "support/GuiTest.h"

namespace {

using Lines = std::vector<std::string>;

std::string g_nsdAddress, g_fakeAddress, g_nsdDir, g_skip;  // of this run

bool Nsd(const std::string& args)
{
    return std::system((std::string(QUORLIX_SOURCE_DIR) + "/scripts/peers/nsd.sh " + args).c_str()) == 0;
}

// The pane text of a query whose reply holds these records, section by section.
std::string Expected(const std::string& name, const Lines& answers, const Lines& authority, const Lines& additional)
{
    std::string text = "[DNS QUERY: " + name + "]\r\n";
    const std::pair<const char*, const Lines*> sections[] = {{"Authorititive Answers", &answers},
                                                             {"Authorititive Answers Can Be Found At", &authority},
                                                             {"Additional Records", &additional}};
    for (const auto& [heading, lines] : sections) {
        text += std::string("\r\n[") + heading + "]\r\n";
        for (const auto& l : *lines)
            text += l;
    }
    return text + "\r\n";
}

std::string RunCommand(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// The pane text for what dig reports the server holds, in the page's words.
std::string DigExpected(const std::string& name, const std::string& type, const std::string& how = "+noedns")
{
    static const std::map<std::string, Lines> kFields = {
        {"A", {"A: address: "}}, {"NS", {"NS: nsname: "}}, {"CNAME", {"CNAME: cname: "}}, {"PTR", {"PTR: ptrname: "}},
        {"HINFO", {"HINFO: cpu: ", ", os: "}}, {"MX", {"MX: Preference: ", ", Exchange: "}},
        {"SOA", {"SOA:\tmname: ", ",\r\n\tpname: ", ",\r\n\tserial: ", ",\r\n\trefresh: ", ",\r\n\tretry: ",
                 ",\r\n\texpire: ", ",\r\n\tminimum: "}}};
    const char* const headings[] = {";; ANSWER SECTION:", ";; AUTHORITY SECTION:", ";; ADDITIONAL SECTION:"};
    Lines sections[3], *section = nullptr;
    std::istringstream lines(RunCommand("dig " + how + " +tries=1 +time=2 @" + g_nsdAddress + " " + name + " " + type));
    for (std::string line; std::getline(lines, line);) {
        for (int i = 0; i < 3; ++i)
            if (line == headings[i])
                section = &sections[i];
        std::istringstream f(line);
        std::string owner, ttl, klass, t;
        if (!section || line[0] == ';' || !(f >> owner >> ttl >> klass >> t))
            continue;
        std::string text;
        const auto fields = kFields.find(t);
        for (size_t i = 0; std::string w : std::vector<std::string>(std::istream_iterator<std::string>(f), {})) {
            // Without quotes and the root's dot; numbers as 32-bit signed ones.
            if (w.size() >= 2 && w.front() == '"' && w.back() == '"')
                w = w.substr(1, w.size() - 2);
            if (w.find_first_not_of("0123456789") == std::string::npos)
                w = std::to_string(int(std::stoul(w)));
            if (fields != kFields.end() && i < fields->second.size())
                text += fields->second[i++] + (w.back() == '.' ? w.substr(0, w.size() - 1) : w);
        }
        if (sections[0].size() + sections[1].size() + sections[2].size() < 50)  // the page's record limit
            section->push_back((text.empty() ? "Unknowns Record Type" : text) + "\r\n");
    }
    return Expected(name, sections[0], sections[1], sections[2]);
}

class DnsPeer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0)
            g_skip = "needs root: the servers listen on port 53";
        else if (std::system("command -v nsd >/dev/null && command -v dig >/dev/null") != 0)
            g_skip = "needs nsd and dig (scripts/install-deps.sh)";
        if (!g_skip.empty())
            return;
        // A run that died (a crash, a sanitizer's abort) could not stop its NSD.
        for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
            const std::string name = entry.path().filename().string(), dir = entry.path().string();
            if (name.rfind("quorlix-nsd-", 0) == 0 && kill(std::atoi(name.c_str() + 12), 0) != 0)
                Nsd("stop " + dir + " && rm -rf " + dir);
        }
        // Addresses of this run only, so that parallel runs do not meet.
        const int pid = int(getpid());
        const std::string tail = "." + std::to_string(pid / 250 % 250 + 1) + "." + std::to_string(pid % 250 + 1);
        g_nsdAddress = "127.53" + tail;
        g_fakeAddress = "127.54" + tail;
        g_nsdDir = "/tmp/quorlix-nsd-" + std::to_string(pid);
        if (!Nsd("start " + g_nsdAddress + " " + g_nsdDir))
            g_skip = "NSD did not start";
    }
    static void TearDownTestSuite()
    {
        if (!g_nsdDir.empty())
            Nsd("stop " + g_nsdDir + " && rm -rf " + g_nsdDir);
    }
    void SetUp() override
    {
        if (!g_skip.empty())
            GTEST_SKIP() << g_skip;
        page = std::make_unique<DnsQueryPage>(nullptr);
    }

    QPushButton* QueryButton() { return page->Item<QPushButton>(DnsQueryControls::kQueryButton); }

    // Types the query as a user would and presses QUERY.
    void Start(const std::string& server, const std::string& name, const char* type)
    {
        page->Item<QComboBox>(DnsQueryControls::kServerBox)->setEditText(QString::fromStdString(server));
        page->Item<QComboBox>(DnsQueryControls::kNameBox)->setEditText(QString::fromStdString(name));
        auto* types = page->Item<QComboBox>(DnsQueryControls::kTypeBox);
        types->setCurrentIndex(types->findText(QLatin1String(type)));
        QueryButton()->click();
    }
    // The pane once the task has ended.
    std::string Query(const std::string& server, const std::string& name, const char* type)
    {
        Start(server, name, type);
        EXPECT_TRUE(WaitForCaption(QueryButton(), QStringLiteral("QUERY"), 10000));
        return PaneText(page.get());
    }

    MessageRecorder messages;
    std::unique_ptr<DnsQueryPage> page;
};

const Lines kZoneNs = {"NS: nsname: ns1.example.test\r\n", "NS: nsname: ns2.example.test\r\n"};
const Lines kZoneNsAddresses = {"A: address: 127.0.0.2\r\n", "A: address: 127.0.0.3\r\n"};
const std::string kZoneSoa =
    "SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: 2024010101,\r\n"
    "\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300\r\n";

}  // namespace

TEST_F(DnsPeer, EveryTypeAsTheServerHoldsIt)
{
    const struct {
        const char* name;
        const char* type;
        Lines answers, authority = kZoneNs, additional = kZoneNsAddresses;
    } cases[] = {
        {"host1.example.test", "A", {"A: address: 127.0.0.10\r\n"}},
        {"example.test", "NS", kZoneNs, {}},
        {"www.example.test", "CNAME", {"CNAME: cname: host1.example.test\r\n"}},
        {"www.example.test", "A", {"CNAME: cname: host1.example.test\r\n", "A: address: 127.0.0.10\r\n"}},
        {"example.test", "SOA", {kZoneSoa}},
        {"10.0.0.127.in-addr.arpa", "PTR", {"PTR: ptrname: host1.example.test\r\n"},
         {"NS: nsname: ns1.example.test\r\n"}, {}},
        {"host1.example.test", "HINFO", {"HINFO: cpu: PC-Intel, os: Linux\r\n"}},
        {"example.test", "MX",
         {"MX: Preference: 10, Exchange: mail.example.test\r\n", "MX: Preference: 20, Exchange: mail2.example.test\r\n"},
         kZoneNs,
         {"A: address: 127.0.0.25\r\n", "A: address: 127.0.0.26\r\n", "A: address: 127.0.0.2\r\n",
          "A: address: 127.0.0.3\r\n"}},
        // A name that does not exist: the zone's SOA under the authority heading.
        {"nothere.example.test", "A", {}, {kZoneSoa}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.type);
        const std::string pane = Query(g_nsdAddress, c.name, c.type);
        EXPECT_EQ(pane, Expected(c.name, c.answers, c.authority, c.additional));
        EXPECT_EQ(pane, DigExpected(c.name, c.type));
    }
    EXPECT_TRUE(messages.Texts().isEmpty()) << messages.Texts().join(", ").toStdString();
}

// Sixty A records (127.1.0.1 up) do not fit into a UDP reply of 512 bytes:
// NSD answers truncated, and only the retry over TCP brings them. A scripted
// server sends all sixty in one datagram. Either way the first fifty print,
// as dig +tcp reads them from NSD.
TEST_F(DnsPeer, SixtyRecordsArriveFiftyArePrinted)
{
    FakeDnsServer server(g_fakeAddress, 53, [](const std::vector<std::uint8_t>& q) {
        DnsReplyBuilder b = DnsReplyBuilder::ReplyTo(q, 60);
        for (std::uint32_t i = 1; i <= 60; ++i)
            b.ARecord(0x7F010000 | i);
        return std::vector<FakeDnsServer::Datagram>{{b.bytes}};
    });
    Lines fifty;
    for (int i = 1; i <= 50; ++i)
        fifty.push_back("A: address: 127.1.0." + std::to_string(i) + "\r\n");
    EXPECT_NE(RunCommand("dig +noedns +ignore +tries=1 @" + g_nsdAddress + " many.example.test A")
                  .find("flags: qr aa tc rd; QUERY: 1, ANSWER: 0"),
              std::string::npos);  // over UDP NSD answers truncated
    EXPECT_EQ(DigExpected("many.example.test", "A", "+tcp"), Expected("many.example.test", fifty, {}, {}));
    for (const std::string& address : {g_nsdAddress, g_fakeAddress})
        EXPECT_EQ(Query(address, "many.example.test", "A"), Expected("many.example.test", fifty, {}, {})) << address;
}

TEST_F(DnsPeer, AnErrorCodeIsNamedBeforeTheRest)
{
    // NSD refuses a zone it does not serve; a name it does not hold (code 3)
    // prints as it always did, in EveryTypeAsTheServerHoldsIt.
    EXPECT_EQ(Query(g_nsdAddress, "example.org", "A"),
              "[DNS QUERY: example.org]\r\n\r\nServer Returned Error Code 5 (REFUSED)!\r\n\r\nNo Records Found!");
    EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(DnsPeer, SilentServerGivesSocketErrorAndStopEndsTheWait)
{
    FakeDnsServer silent(g_fakeAddress, 53, nullptr);
    EXPECT_EQ(Query(g_fakeAddress, "host1.example.test", "A"), "[DNS QUERY: host1.example.test]\r\n\r\n");
    EXPECT_EQ(messages.Texts(), QStringList{QStringLiteral("Socket Error!")});

    Start(g_fakeAddress, "host2.example.test", "A");
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.Queries() == 2; }, 5000));
    QueryButton()->click();
    EXPECT_EQ(QueryButton()->text(), QStringLiteral("QUERY"));
    EXPECT_EQ(PaneText(page.get()), "[DNS QUERY: host2.example.test]\r\n\r\n\tOperation Aborted");
    page.reset();  // joins the task, whose cancelled wait has ended
    EXPECT_EQ(messages.Texts().size(), 1);
}
