// The Dns Query page alone, against NSD (each answer also read with dig) and against a scripted server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>

#include "dns/DnsQueryPage.h"
#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"
#include "support/GuiTest.h"
#include "support/ScriptedPeer.h"
#include "support/TestNamespace.h"
#include "ui/OutputPane.h"

using namespace DnsQueryControls;

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using Datagrams = std::vector<FakeDnsServer::Datagram>;

constexpr const char* kNetnsVariable = "QUORLIX_DNS_NETNS";
std::string g_nsd = "127.0.0.1", g_fake = "127.0.0.54", g_dir, g_skip;  // of this run

bool Nsd(const std::string& args)
{
    return std::system((QUORLIX_SOURCE_DIR "/scripts/peers/nsd.sh " + args).c_str()) == 0;
}

// The answer section as the pane shows it, up to the authority heading.
std::string Answers(const Lines& records)
{
    std::string text = "[Authorititive Answers]\r\n";
    for (const auto& l : records)
        text += l + "\r\n";
    return text + "\r\n[Authorititive Answers Can Be Found At]\r\n";
}

// The values of the records of each section: the pane's without their labels;
// dig's without quotes and the root's dot, its first fifty (the page's limit).
std::array<Lines, 3> Values(const std::string& text, bool dig)
{
    static const std::regex record(R"(^\S+\s+\d+\s+IN\s+\S+\s+(.*))"), label("[A-Za-z]+:|,"), quotesDot(R"(^"|"$|\.$)");
    const char* headings[2][3] = {{"Answers]", "At]", "Records]"}, {"ANSWER S", "AUTHORITY S", "ADDITIONAL S"}};
    std::array<Lines, 3> values;
    std::istringstream lines(text);
    int section = -1, records = 0;
    for (std::string line, w; std::getline(lines, line);) {
        std::smatch m;
        if (line.starts_with(dig ? ";;" : "[")) {
            section = -1;
            for (int i = 0; i < 3; ++i)
                section = line.find(headings[dig][i]) != line.npos ? i : section;
        } else if (section >= 0 && (dig ? std::regex_search(line, m, record) && ++records <= 50 : !line.empty())) {
            for (std::istringstream words(dig ? m.str(1) : std::regex_replace(line, label, " ")); words >> w;)
                values[std::size_t(section)].push_back(std::regex_replace(w, quotesDot, ""));
        }
    }
    return values;
}

class DnsPage : public testing::Test {
protected:
    QPushButton* Button(int id = kQueryButton) { return page->Item<QPushButton>(id); }
    QComboBox* Box(int id) { return page->Item<QComboBox>(id); }
    void Start(const std::string& server, const std::string& name, const char* type = "A")
    {
        Box(kServerBox)->setEditText(QString::fromStdString(server));
        Box(kNameBox)->setEditText(QString::fromStdString(name));
        Box(kTypeBox)->setCurrentIndex(Box(kTypeBox)->findText(QLatin1String(type)));
        Button()->click();
    }
    std::string Query(const std::string& server, const std::string& name, const char* type = "A")
    {
        Start(server, name, type);
        EXPECT_TRUE(WaitForCaption(Button(), QStringLiteral("QUERY")));
        return PaneText(page.get());
    }
    void Resolve(const QString& text)
    {
        Box(kNameBox)->setEditText(text);
        Button(kResolveButton)->click();
    }

    MessageRecorder messages;
    std::unique_ptr<DnsQueryPage> page = std::make_unique<DnsQueryPage>(nullptr);
};

class DnsPeer : public DnsPage {
protected:
    static void SetUpTestSuite()
    {
        if (!std::getenv(kNetnsVariable))
            return void(g_skip = "runs inside the namespace of DnsNetns.PeerTestsRunInANamespace");
        if (geteuid() != 0 || std::system("command -v nsd >/dev/null && command -v dig >/dev/null") != 0)
            return void(g_skip = "needs root (port 53), nsd and dig");
        for (const auto& e : std::filesystem::directory_iterator("/tmp"))  // left by a run that died
            if (const std::string n = e.path().filename(); n.starts_with("quorlix-nsd-") && kill(std::stoi(n.substr(12)), 0) != 0)
                Nsd("stop " + e.path().string() + " && rm -rf " + e.path().string());
        g_dir = "/tmp/quorlix-nsd-" + std::to_string(getpid());
        if (!Nsd("start " + g_nsd + ",::1 " + g_dir))
            g_skip = "NSD did not start";
    }
    static void TearDownTestSuite()
    {
        if (!g_dir.empty())
            Nsd("stop " + g_dir + " && rm -rf " + g_dir);
    }
    void SetUp() override
    {
        if (!g_skip.empty())
            GTEST_SKIP() << g_skip;
    }
};

}  // namespace

TEST(DnsNetns, PeerTestsRunInANamespace)
{
    if (std::getenv(kNetnsVariable))
        GTEST_SKIP() << "this is the run inside the namespace";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    const TestNamespace ns("qx-dns");
    ASSERT_TRUE(ns.Ok());
    ns.WriteEtc("hosts", "127.0.0.1 localhost dual.test\n::1 ns6.test\n2001:db8::dead dual.test\n");
    ns.WriteEtc("resolv.conf", "nameserver ::1\noptions timeout:1 attempts:1\n");
    EXPECT_TRUE(ns.ExecSelf(kNetnsVariable, "DnsPeer.*"));
}

TEST_F(DnsPeer, ResolveName)
{
    for (auto [text, pane] : {std::pair{"localhost", "Domain Name: localhost\r\n\r\n\t127.0.0.1"},
                              {"ns6.test", "Domain Name: ns6.test\r\n\r\n\t::1"},
                              {"dual.test", "Domain Name: dual.test\r\n\r\n\t127.0.0.1"},
                              {"2001:db8::10", "IP Address: 2001:db8::10\r\n\r\n\thost1.example.test"},
                              {"127.0.0.1", "IP Address: 127.0.0.1\r\n\r\n\tlocalhost"}}) {
        Resolve(QLatin1String(text));
        EXPECT_EQ(Button(kResolveButton)->text(), "Stop");
        ASSERT_TRUE(WaitForCaption(Button(kResolveButton), "Resolve Name"));
        EXPECT_EQ(PaneText(page.get()), "Resolving: \r\n\r\n\tResolving " + std::string(pane));
        EXPECT_NE(CommandOutput(page->Pane()->CommandLine()).find(std::strrchr(pane, '\t') + 1), std::string::npos);
    }
    Resolve(QStringLiteral("localhost"));
    Button(kResolveButton)->click();  // Stop, before the answer can arrive
    EXPECT_EQ(Button(kResolveButton)->text(), "Resolve Name");
    QTest::qWait(200);  // the cancelled lookup reports nothing
    EXPECT_EQ(PaneText(page.get()), "Resolving: \r\n\r\n\tResolving Domain Name: localhost\r\n\r\n\tOperation Cancelled By User");
    Resolve(QStringLiteral("localhost"));
    page.reset();  // closing during a lookup is quiet
    QTest::qWait(200);
}

// Each answer of NSD: its answer section as shown, every section's values as the pane's own dig command reads them.
TEST_F(DnsPeer, AnswersOfNsdAsDigReadsThem)
{
    EXPECT_EQ(Box(kServerBox)->currentText(), "::1");  // resolv.conf's first, whichever its family
    Lines fifty;
    for (int i = 1; i <= 50; ++i)
        fifty.push_back("A: address: 127.1.0." + std::to_string(i));
    const struct {
        const char *name, *type;
        Lines answers;
        std::string server = g_nsd;
    } cases[] = {
        {"host1.example.test", "A", {"A: address: 127.0.0.10"}},
        {"example.test", "NS", {"NS: nsname: ns1.example.test", "NS: nsname: ns2.example.test"}},
        {"www.example.test", "A", {"CNAME: cname: host1.example.test", "A: address: 127.0.0.10"}},
        {"example.test", "SOA", {"SOA:\tmname: ns1.example.test,\r\n\tpname: hostmaster.example.test,\r\n\tserial: 2024010101,"
                                 "\r\n\trefresh: 3600,\r\n\tretry: 600,\r\n\texpire: 86400,\r\n\tminimum: 300"}},
        {"10.0.0.127.in-addr.arpa", "PTR", {"PTR: ptrname: host1.example.test"}},
        {"host1.example.test", "HINFO", {"HINFO: cpu: PC-Intel, os: Linux"}},
        {"example.test", "MX", {"MX: Preference: 10, Exchange: mail.example.test", "MX: Preference: 20, Exchange: mail2.example.test"}},
        {"nothere.example.test", "A", {}},
        // Sixty records: NSD answers truncated over UDP; the page asks again over TCP.
        {"many.example.test", "A", fifty},
        {"0.1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa", "PTR", {"PTR: ptrname: host1.example.test"}},
        // Over IPv6 (UDP, then TCP); to a name with both families, over IPv4.
        {"host6.example.test", "AAAA", {"AAAA: address: 2001:db8::1:0:0:6"}, "[::1]"},
        {"many.example.test", "A", fifty, "::1"},
        {"host1.example.test", "A", {"A: address: 127.0.0.10"}, "dual.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.type);
        const std::string pane = Query(c.server, c.name, c.type);
        EXPECT_TRUE(pane.starts_with("[DNS QUERY: " + std::string(c.name) + "]\r\n\r\n" + Answers(c.answers))) << pane;
        EXPECT_EQ(Values(pane, false), Values(CommandOutput(page->Pane()->CommandLine()), true)) << page->Pane()->CommandLine();
    }
    EXPECT_EQ(Query(g_nsd, "example.org"),  // a zone NSD does not serve
              "[DNS QUERY: example.org]\r\n\r\nServer Returned Error Code 5 (REFUSED)!\r\n\r\nNo Records Found!");
    EXPECT_TRUE(messages.Texts().isEmpty());
}

// Replies of a scripted server to "q.test" A: the pane after the banner, or
// "Socket Error!" (empty pane) where no reply counts.
TEST_F(DnsPeer, RepliesOfAScriptedServer)
{
    auto reply = [](const Bytes& q, std::uint16_t an, std::uint16_t flags = 0x8580) {
        DnsReplyBuilder b = DnsReplyBuilder::ReplyTo(q, an);
        b.bytes[2] = std::uint8_t(flags >> 8), b.bytes[3] = std::uint8_t(flags);
        return b;
    };
    auto sized = [&](std::size_t size) {  // one TXT record filling size bytes
        return [&, size](const Bytes& q) {
            DnsReplyBuilder b = reply(q, 1);
            b.Pointer(12).Fixed(16, 1, std::uint16_t(size - b.Size() - 12)).bytes.resize(size, 'z');
            return Datagrams{{b.bytes}};
        };
    };
    auto shown = [](const Lines& answers) { return Answers(answers) + "\r\n[Additional Records]\r\n\r\n"; };
    const struct {
        const char* what;
        FakeDnsServer::Script script;
        std::string pane;
    } cases[] = {
        {"an empty datagram, one from another port, then one whose identifier differs",
         [&](const Bytes& q) {
             DnsReplyBuilder other = reply(q, 1).ARecord(2);
             other.bytes[0] ^= 0xFF;
             return Datagrams{{{}}, {reply(q, 1).ARecord(1).bytes, true}, {other.bytes}};
         },
         shown({"A: address: 0.0.0.2"})},
        {"too short for a header", [](const Bytes&) { return Datagrams{{{0x04, 0xD2, 0x81}}}; }, ""},
        {"1000 bytes", sized(1000), shown({"Unknowns Record Type"})},
        {"1001 bytes", sized(1001), ""},
        {"three announced, the second cut short: the first prints",
         [&](const Bytes& q) { return Datagrams{{reply(q, 3).ARecord(1).Pointer(12).Fixed(15, 1, 1).U8(0).ARecord(3).bytes}}; },
         shown({"A: address: 0.0.0.1"})},
        {"truncated, and no TCP server", [&](const Bytes& q) { return Datagrams{{reply(q, 0, 0x8780).bytes}}; }, ""},
        {"silence", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDnsServer server(g_fake, 53, c.script);
        const auto before = messages.Texts().size();
        EXPECT_EQ(Query(g_fake, "q.test"), "[DNS QUERY: q.test]\r\n\r\n" + c.pane);
        EXPECT_EQ(messages.Texts().mid(before), c.pane.empty() ? QStringList{"Socket Error!"} : QStringList());
    }

    // STOP ends the wait for a silent server at once.
    FakeDnsServer silent(g_fake, 53, nullptr);
    Start(g_fake, "q2.test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.Queries() == 1; }, 5000));
    Button()->click();
    EXPECT_EQ(Button()->text(), "QUERY");
    EXPECT_EQ(PaneText(page.get()), "[DNS QUERY: q2.test]\r\n\r\n\tOperation Aborted");
    const auto count = messages.Texts().size();
    page.reset();  // joins the task, whose cancelled wait has ended
    EXPECT_EQ(messages.Texts().size(), count);
}
