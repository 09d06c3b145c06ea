// Mail delivery in a network namespace of its own: a small zone, aiosmtpd saving byte for byte, scripted odd servers.
#include <fstream>
#include <map>
#include <ranges>
#include <thread>

#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"
#include "mail/SmtpMailPage.h"
#include "support/DnsReplyBuilder.h"
#include "support/GuiTest.h"
#include "support/MailTestSink.h"
#include "support/PrivateNameServer.h"
#include "support/ScriptedPeer.h"
#include "support/TempFiles.h"

namespace {

// MX records in reply order (preference 10, 20, ...), A and AAAA records. "servfail.test" answers SERVFAIL,
// "slow.test" after a second, "tc.test" truncated; a name without records has none under ".test", else NXDOMAIN.
const std::map<std::string, std::vector<std::string>> kMx = {
    {"ok.test", {"1mx.ok.test"}},  // a name, though it begins with a digit
    {"scripted.test", {"mx.scripted.test"}}, {"slow.test", {"mx.scripted.test"}},
    {"two.test", {"a.two.test", "b.two.test"}}, {"tc.test", {"a.two.test", "b.two.test"}},  // over TCP a alone
    {"ghost.test", {"nowhere.ghost.test"}}, {"six.test", {"six.test"}}, {"dual.test", {"dual.test"}}, {"never.test", {"never.test"}}};
const std::map<std::string, std::uint16_t> kA = {
    {"1mx.ok.test", 0x0201}, {"mx.scripted.test", 0x0301}, {"a.two.test", 0x0401}, {"b.two.test", 0x0402}, {"dual.test", 0x0402}};  // 127.0.x.y
const std::map<std::string, std::vector<std::string>> kAaaa = {{"six.test", {"::1"}}, {"dual.test", {"::1"}}, {"never.test", {"::", "ff02::1"}}};

std::vector<FakeDnsServer::Datagram> Answer(const std::vector<std::uint8_t>& query)
{
    std::string name;
    std::size_t end = 12;  // the question's zero byte
    for (; end < query.size() && query[end] != 0 && end + 1u + query[end] <= query.size(); end += query[end] + 1u)
        name.append(name.empty() ? "" : ".").append(reinterpret_cast<const char*>(&query[end + 1]), query[end]);
    if (end + 5 > query.size()) return {};
    if (name == "slow.test") std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::vector<std::string> mx = query[end + 2] == 15 && kMx.count(name) ? kMx.at(name) : std::vector<std::string>{};
    const bool a = query[end + 2] == 1 && kA.count(name);
    const auto aaaa = query[end + 2] == 28 && kAaaa.count(name) ? kAaaa.at(name) : std::vector<std::string>{};
    auto reply = DnsReplyBuilder::ReplyTo({query.begin(), query.begin() + long(end + 5)}, std::uint16_t(mx.size() + a + aaaa.size()));
    for (std::uint16_t i = 0; i < mx.size(); ++i)  // owner: the question's name; class IN, TTL 300
        reply.U16(0xc00c).U16(15).U16(1).U16(0).U16(300).U16(std::uint16_t(mx[i].size() + 4)).U16(10 * i + 10).Name(mx[i]);
    if (a)
        reply.U16(0xc00c).U16(1).U16(1).U16(0).U16(300).U16(4).U16(0x7f00).U16(kA.at(name));
    for (in6_addr v6{}; const std::string& text : aaaa)
        inet_pton(AF_INET6, text.c_str(), &v6), reply.U16(0xc00c).Fixed(28, 300, 16).Raw({reinterpret_cast<char*>(v6.s6_addr), 16});
    reply.bytes[2] |= name == "tc.test" ? 0x02 : 0;
    reply.bytes[3] = 0x80 | (name == "servfail.test" ? 2 : mx.empty() && !a && !name.ends_with(".test") ? 3 : 0);
    return {{reply.bytes}};
}

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(Answer)));

// The usual dialogue up to the DATA reply (RCPT TO gets a 251, a success too), and a whole one.
const std::string kToData = "send 220 scripted\nexpect HELO\nsend 250 hello\nexpect MAIL\nsend 250 ok\n"
                            "expect RCPT\nsend 251 will forward\nexpect DATA\nsend 354-go\nsend 354 on\n";
const std::string kTakeMail = kToData + "until .\nsend 250 queued\nexpect QUIT\nsend 221 bye\n";

// aiosmtpd on address:25, mail_rawsave.py saving each message as msgN.eml, then msgN.env.
std::unique_ptr<PeerProcess> SavingSmtpServer(const std::string& address, const std::string& dir)
{
    auto peer = std::make_unique<PeerProcess>(std::vector<std::string>{
        "sh", "-c", "(for i in $(seq 300); do nc -z " + address + " 25 && exec echo ready; sleep 0.05; done) & PYTHONPATH=" +
                        QUORLIX_SOURCE_DIR "/tests/support exec /usr/bin/python3 -m aiosmtpd -n -l " + address +
                        ":25 -c mail_rawsave.RawSave " + dir});
    return peer->ReadLine() == "ready" ? std::move(peer) : nullptr;
}

std::string Saved(const std::string& path)  // msgN.eml or .env, once both are written
{
    return QTest::qWaitFor([&] { return bool(std::ifstream(path.substr(0, path.size() - 3) + "env")); }, 10000)
               ? std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}) : "";
}

struct MailPeers : testing::Test {
    void SetUp() override { if (!g_network->Server()) GTEST_SKIP() << "needs root, for a network namespace of its own"; }
    TempFiles files_{std::string("mail-") + testing::UnitTest::GetInstance()->current_test_info()->name()};
};

// A whole send on a thread of its own, as the page runs it; Finish gives the last text shown.
struct Send : TestMailOperation {
    explicit Send(MailFields fields, MailOperation::TransferTime time = {})
        : thread([this, fields, time] { operation.transferTime = time, RunMailOperation(fields, operation); }) {}
    std::string Finish()
    {
        if (thread.joinable()) thread.join();
        auto all = Texts();
        std::erase(all, "<idle>");
        return all.empty() ? "" : all.back();
    }
    std::jthread thread;
};

// The message as composed (format=flowed), dots that stuffing doubled single again, the end of data's CR LF.
TEST_F(MailPeers, DeliveredAsComposedByteForByte)
{
    const auto server = SavingSmtpServer("127.0.2.1", files_.Path("saved"));
    ASSERT_TRUE(server);
    const std::tuple<std::string, std::string, std::size_t> cases[] = {  // typed, sent, the attachment's size
        {".\r\n..\r\n.start\r\nend.", ".\r\n..\r\n.start\r\nend.", 0}, {"one\r\n", "one\r\n", 57}, {"", "", 58},
        {" indented\r\nFrom me\r\nblanks  \r\n-- \r\nMe", "  indented\r\n From me\r\nblanks\r\n-- \r\nMe", 1'000'000},
    };
    int n = 0;
    for (const auto& [typed, sent, size] : cases) {
        const std::string bytes = RandomBytes(size, unsigned(size)), name = size ? "f" + std::to_string(size) : "";
        Send send({"Me <me@home>", " Some.One@ok.test ", "Test", typed, size ? files_.Write(name, bytes) : ""});
        ASSERT_EQ(send.Finish(), "Mail Sent Successfully");
        const std::string saved = files_.Path("saved/msg" + std::to_string(++n));
        EXPECT_TRUE(Saved(saved + ".eml") ==
                    ExpectedMailMessage("Me <me@home>", " Some.One@ok.test ", "Test", sent, name, bytes) + "\r\n") << n;
        EXPECT_EQ(Saved(saved + ".env"), "HELO HELLO\nMAIL FROM Some.One@ok.test\nRCPT TO Some.One@ok.test\n");
    }
}

TEST_F(MailPeers, ExchangersTriedFromTheLast)
{
    // tc.test's answer over TCP, its second record cut short.
    ScriptedPeer a(kTakeMail, "127.0.4.1", 25), overTcp("raw \\x00\\x35\\x04\\xd2\\x85\\x80\\x00\\x01\\x00\\x02\\x00\\x00"
        "\\x00\\x00\\x02tc\\x04test\\x00\\x00\\x0f\\x00\\x01\\xc0\\x0c\\x00\\x0f\\x00\\x01\\x00\\x00\\x01\\x2c\\x00\\x0e"
        "\\x00\\x0a\\x01a\\x03two\\x04test\\x00\\xc0\\x0c\nstall", ResolverAddress(), 53);
    const auto six = SavingSmtpServer("::", files_.Path("six"));  // also where a connection to :: would go
    const std::tuple<std::string, bool, int, int> cases[] = {  // to, b listens, HELOs so far at a, mails so far over IPv6
        {"x@two.test", true, 0, 0}, {"x@two.test", false, 1, 0}, {"x@tc.test", true, 2, 0}, {"x@six.test", true, 2, 1},  // six: IPv6 only
        {"x@dual.test", false, 2, 2} /* 127.0.4.2 first, then ::1 */, {"x@never.test", false, 2, 2} /* ::, multicast: never */};
    for (auto [to, bOn, aGot, sixTotal] : cases) {
        const auto b = bOn ? std::make_unique<ScriptedPeer>(kTakeMail, "127.0.4.2", 25) : nullptr;
        Send send({"", to, "", "hi", ""});
        EXPECT_EQ(send.Finish(), to == "x@never.test" ? "Unable To Connect To Mailbox!" : "Mail Sent Successfully");
        EXPECT_EQ(send.Saw("Error Sending Mail: -3"), !bOn);
        EXPECT_FALSE(std::ifstream(files_.Path("six/msg" + std::to_string(sixTotal + 1) + ".env"))) << to;  // no more than these
        const std::string got = "|" + a.Received();  // one HELO a connection
        EXPECT_EQ(std::ranges::distance(std::views::split(got, std::string_view("HELO"))) - 1, aGot) << to;
    }
    EXPECT_EQ(Saved(files_.Path("six/msg1.eml")), ExpectedMailMessage("", "x@six.test", "", "hi") + "\r\n");  // byte for byte
}

// Every way a send ends, and Cancel at each stage: a wait ends at once, RSET (not QUIT) ends the dialogue.
TEST_F(MailPeers, OutcomesAndCancel)
{
    const std::string lines = QByteArray(98, 'x').append("\r\n").repeated(200'000).toStdString();  // 100 bytes each
    const std::string mb8 = lines.substr(0, 8'000'000), hi = "hi", x = "x@scripted.test";  // more than socket buffers hold
    const struct {
        const char* name;
        std::string to, script, body;  // no script: nothing listens
        const char* cancelAt;          // the status after which Cancel is pressed
        std::string last, received;    // last: "or" between texts that may both end it; how what came in ends
    } cases[] = {
        {"greeting in two segments", x, "send 220-first line\nsleep 200\n" + kToData + "until .\nsend 250 queued\nstall", hi,
         nullptr, "Mail Sent Successfully", ".\r\n"},  // no answer to QUIT
        {"never answers", x, "stall", hi, nullptr, "Error Sending Mail: -5"},
        {"8 MB read after 1 s", x, kToData + "sleep 1000\nuntil .\nsend 250 queued\nstall", mb8, nullptr, "Mail Sent Successfully"},
        {"refuses HELO", x, "send 220 hi\nexpect HELO\nsend 500 no\nstall", hi, nullptr, "Error Sending Mail: -5"},
        {"closes during DATA", x, kToData + "expect x\nclose", mb8.substr(0, 4'000'000), nullptr,
         "Error Sending Mail: -6 or Error Sending Mail: -5"},
        {"no MX record", " x@nomx.test", "", hi, nullptr, "Bad Email:  x@nomx.test"},
        {"server failure", "x@servfail.test", "", hi, nullptr, "DNS Error. (Ensure You Have An Internet Connection!)"},
        {"exchanger without address", "x@ghost.test", kTakeMail, hi, nullptr, "Unable To Connect To Mailbox!"},
        {"line without a space", x, "", std::string(2000, 'x'), nullptr, "Error Sending Mail: -4"},  // not -3: refused first
        {"cancel at the greeting", x, "expect RSET\nstall", hi, "Connecting to Server..", "Operation Cancelled By User.", "RSET\r\n"},
        {"cancel at the DATA reply", x, "send 220 hi\nexpect HELO\nsend 250 ok\nexpect MAIL\nsend 250 ok\nexpect RCPT\n"
         "send 250 ok\nexpect DATA\nexpect RSET\nstall", hi, "Sending Message... 0% Complete", "Operation Cancelled By User.",
         "DATA\r\nRSET\r\n"},
        {"cancel mid-message", x, kToData + "sleep 2000\nstall", lines, "Sending Message... 1% Complete",
         "Operation Cancelled By User."},
        {"cancel after the end of data", x, kToData + "sleep 1000\nuntil .\nsend 250 queued\nexpect QUIT\nstall", hi,
         "Closing Connection...", "Mail Sent Successfully", ".\r\nQUIT\r\n"},
        {"cancel at the look-up", "x@slow.test", "", hi, "Finding Mailbox...", "Operation Cancelled By User"},  // last: DNS sleeps
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto server = c.script.empty() ? nullptr : std::make_unique<ScriptedPeer>(c.script, "0.0.0.0", 25);
        Send send({"", c.to, "", c.body, ""}, {std::chrono::milliseconds(200), std::chrono::milliseconds(20)});
        if (c.cancelAt && QTest::qWaitFor([&] { return send.Saw(c.cancelAt); }, 20000))
            QTest::qWait(200), send.cancel.Cancel();
        const std::string last = send.Finish();
        EXPECT_TRUE(last == c.last || c.last.starts_with(last + " or ") || c.last.ends_with(" or " + last)) << last;
        EXPECT_TRUE(send.Saw("<idle>"));
        EXPECT_TRUE(!server || server->Received().ends_with(c.received)) << (server ? server->Received().substr(0, 200) : "");
    }
}

// The page: checks before a send, Send and Cancel, two sends in a row, then closing it after the end of data: no QUIT.
TEST_F(MailPeers, Page)
{
    using namespace SmtpMailControls;
    auto page = std::make_unique<SmtpMailPage>(nullptr);
    const auto box = [&](int id) { return page->Item<QLineEdit>(id); };
    QPushButton* const send = page->Item<QPushButton>(kSendButton);
    const auto status = [&] { return page->Item<QLabel>(kStatusLine)->text(); };
    const auto wait = [&](const QString& text, const QString& caption = "Send") {
        return QTest::qWaitFor([&] { return status() == text && send->text() == caption; }, 10000);
    };
    const std::tuple<QString, QString, bool> cases[] = {  // To, the message shown, the answer to it
        {"  QUORLIX@Example.Org ", "Please use your own email program to Email me.\r\n\r\nThank You :)", true},  // To emptied
        {"nobody", "Not a valid email recipient", true}, {"a@b@c", "Can only send to one recipient at a time.", true},
        {"a@ok.test", "Are You Sure You Want To Send The Message?", false},  // No changes nothing
    };
    for (const auto& [to, message, answer] : cases) {
        MessageRecorder recorder(answer);
        box(kToBox)->setText(to);
        send->click();
        EXPECT_EQ(recorder.Texts(), QStringList{message}) << to.toStdString();
        EXPECT_TRUE(box(kToBox)->text().isEmpty() == message.startsWith("Please") && wait("Idle") && box(kToBox)->isEnabled());
    }

    const MessageRecorder yes;
    const auto saver = SavingSmtpServer("127.0.2.1", files_.Path("saved"));
    ASSERT_TRUE(saver);
    ScriptedPeer server("sleep 1500\n" + kToData + "until .\nsleep 1000\nsend 250 queued\nexpect QUIT\nstall", "127.0.3.1", 25);
    box(kToBox)->setText("x@scripted.test");
    send->click();
    EXPECT_FALSE(box(kToBox)->isEnabled());
    ASSERT_TRUE(wait("Connecting to Server..", "Cancel"));
    send->click();
    EXPECT_EQ(status(), "Aborting Operation...");
    EXPECT_TRUE(wait("Operation Cancelled By User.") && box(kToBox)->isEnabled());
    box(kToBox)->setText("x@ok.test");
    page->Item<QPlainTextEdit>(kMessageBox)->setPlainText("line one\n.line two");
    for (const char* i : {"1", "2"}) {
        send->click();
        EXPECT_TRUE(wait("Mail Sent Successfully")) << status().toStdString();
        EXPECT_TRUE(Saved(files_.Path("saved/msg" + std::string(i) + ".eml"))
                        .ends_with("\r\n\r\nline one\r\n.line two\r\n\r\n" + kMailDelimiter + "--\r\n\r\n"));
    }
    box(kToBox)->setText("x@scripted.test");
    send->click();
    ASSERT_TRUE(wait("Closing Connection...", "Cancel"));
    send->click();  // the mail went out: Cancel is no longer honoured
    QTest::qWait(300);
    EXPECT_EQ(send->text(), "Cancel");
    page.reset();
    EXPECT_TRUE(server.Received().ends_with("--\r\n\r\n.\r\n")) << server.Received();
}

}  // namespace
