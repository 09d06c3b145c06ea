// Mail delivery against peers in a network namespace of the test's own: the
// name server of /etc/resolv.conf answers from a small zone, aiosmtpd saves
// what it receives byte for byte, and scripted_peer.py plays the odd servers.
// Needs root.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"
#include "mail/SmtpMailPage.h"
#include "support/DnsReplyBuilder.h"
#include "support/MailTestSink.h"
#include "support/PrivateNameServer.h"
#include "support/ScriptedPeer.h"
#include "support/TempFiles.h"
#include "templates/ControlIds.h"

namespace {

// MX records in reply order (preference 10, 20, ...) and A records. "servfail.test"
// answers SERVFAIL, "slow.test" after a second, "tc.test" truncated; a name
// without records has none under ".test", and no such name elsewhere.
const std::map<std::string, std::vector<std::string>> kMx = {
    {"ok.test", {"1mx.ok.test"}},  // a name, though it begins with a digit
    {"scripted.test", {"mx.scripted.test"}}, {"slow.test", {"mx.scripted.test"}},
    {"two.test", {"a.two.test", "b.two.test"}}, {"tc.test", {"a.two.test", "b.two.test"}},  // over TCP a alone
    {"ghost.test", {"nowhere.ghost.test"}}};
const std::map<std::string, std::uint32_t> kA = {
    {"1mx.ok.test", 0x7f000201}, {"mx.scripted.test", 0x7f000301}, {"a.two.test", 0x7f000401}, {"b.two.test", 0x7f000402}};

std::vector<FakeDnsServer::Datagram> Answer(const std::vector<std::uint8_t>& query)
{
    std::string name;
    std::size_t end = 12;  // the question's zero byte
    for (; end < query.size() && query[end] != 0 && end + 1u + query[end] <= query.size(); end += query[end] + 1u)
        name.append(name.empty() ? "" : ".").append(reinterpret_cast<const char*>(&query[end + 1]), query[end]);
    if (end + 5 > query.size())
        return {};
    if (name == "slow.test")
        std::this_thread::sleep_for(std::chrono::seconds(1));
    DnsReplyBuilder answers;
    std::uint16_t count = 0;
    if (query[end + 2] == 15 && kMx.count(name))
        for (const std::string& exchange : kMx.at(name))
            answers.Pointer(12).Fixed(15, 300, std::uint16_t(exchange.size() + 4)).U16(10 * ++count).Name(exchange);
    if (query[end + 2] == 1 && kA.count(name) && ++count)
        answers.ARecord(kA.at(name));
    DnsReplyBuilder reply = DnsReplyBuilder::ReplyTo({query.begin(), query.begin() + long(end + 5)}, count);
    reply.bytes[2] |= name == "tc.test" ? 0x02 : 0;
    reply.bytes[3] = 0x80 | (name == "servfail.test" ? 2 : count == 0 && !name.ends_with(".test") ? 3 : 0);
    reply.bytes.insert(reply.bytes.end(), answers.bytes.begin(), answers.bytes.end());
    return {{reply.bytes}};
}

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(Answer)));

// Scripts of scripted_peer.py: the usual dialogue up to the DATA reply (RCPT
// TO gets a 251, a success too), and a whole one that takes the mail.
const std::string kToData = "send 220 scripted\nexpect HELO\nsend 250 hello\nexpect MAIL\nsend 250 ok\n"
                            "expect RCPT\nsend 251 will forward\nexpect DATA\nsend 354-go\nsend 354 on\n";
const std::string kTakeMail = kToData + "until .\nsend 250 queued\nexpect QUIT\nsend 221 bye\n";

// aiosmtpd on address:25, its handler (mail_rawsave.py) saving each message
// as msgN.eml and then msgN.env; "ready" once it listens.
std::unique_ptr<PeerProcess> SavingSmtpServer(const std::string& address, const std::string& dir)
{
    auto peer = std::make_unique<PeerProcess>(std::vector<std::string>{
        "sh", "-c", "(for i in $(seq 300); do nc -z " + address + " 25 && exec echo ready; sleep 0.05; done) & PYTHONPATH=" +
                        QUORLIX_SOURCE_DIR "/tests/support exec /usr/bin/python3 -m aiosmtpd -n -l " + address +
                        ":25 -c mail_rawsave.RawSave " + dir});
    return peer->ReadLine() == "ready" ? std::move(peer) : nullptr;
}

std::string Saved(const std::string& path)
{
    for (int waited = 0; waited < 10000 && !std::ifstream(path.substr(0, path.size() - 3) + "env"); waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

class MailPeers : public testing::Test {
protected:
    void SetUp() override
    {
        if (!g_network->Server())
            GTEST_SKIP() << "needs root, to make a network namespace of its own";
    }
    TempFiles files_{std::string("mail-") + testing::UnitTest::GetInstance()->current_test_info()->name()};
};

// A whole send on a thread of its own, as the page runs it; Finish gives the
// last text shown.
struct Send : TestMailOperation {
    explicit Send(MailFields fields, MailOperation::TransferTime time = {})
    {
        operation.transferTime = time;
        thread = std::thread([this, fields = std::move(fields)] { RunMailOperation(fields, operation); });
    }
    ~Send() { Finish(); }
    std::string Finish()
    {
        if (thread.joinable())
            thread.join();
        const auto all = Texts();
        const auto last = std::find_if(all.rbegin(), all.rend(), [](const std::string& t) { return t != "<idle>"; });
        return last == all.rend() ? "" : *last;
    }
    std::thread thread;
};

// The message as composed, the dots that stuffing doubled single again, and
// the end of data's own CR LF after it. The text goes as format=flowed.
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
    for (auto [to, bOn, aGot] : {std::tuple{"x@two.test", true, 0}, {"x@two.test", false, 1}, {"x@tc.test", true, 2}}) {
        const auto b = bOn ? std::make_unique<ScriptedPeer>(kTakeMail, "127.0.4.2", 25) : nullptr;
        Send send({"", to, "", "hi", ""});
        EXPECT_EQ(send.Finish(), "Mail Sent Successfully");
        EXPECT_EQ(send.Saw("Error Sending Mail: -3"), !bOn);
        int helos = 0;  // one a connection
        for (std::size_t at = 0; (at = a.Received().find("HELO", at)) != std::string::npos; ++at)
            ++helos;
        EXPECT_EQ(helos, aGot) << to;
    }
}

// Every way a send ends, and Cancel pressed at each stage: a wait ends at
// once, not after a reply's time-out, and RSET, not QUIT, ends the dialogue.
// The exchanger listens on every address of the namespace, 0.0.0.0 included.
TEST_F(MailPeers, OutcomesAndCancel)
{
    std::string lines;  // 100 bytes each
    for (int i = 0; i < 200'000; ++i)
        lines += std::string(98, 'x') + "\r\n";
    const std::string eightMegabytes = lines.substr(0, 8'000'000);  // more than socket buffers hold
    const struct {
        const char* name;
        std::string to, script;  // no script: nothing listens
        std::string body;
        const char* cancelAt;  // the status after which Cancel is pressed
        std::string last;      // "or" between texts that may both end it
        std::string received;  // how what the server received ends
    } cases[] = {
        {"greeting in two segments", "x@scripted.test", "send 220-first line\nsleep 200\n" + kToData + "until .\nsend 250 queued\nstall",
         "hi", nullptr, "Mail Sent Successfully", ".\r\n"},  // no answer to QUIT
        {"never answers", "x@scripted.test", "stall", "hi", nullptr, "Error Sending Mail: -5"},
        {"8 MB read after 1 s", "x@scripted.test", kToData + "sleep 1000\nuntil .\nsend 250 queued\nstall", eightMegabytes,
         nullptr, "Mail Sent Successfully"},
        {"8 MB read after 4 s", "x@scripted.test", kToData + "sleep 4000\nstall", eightMegabytes, nullptr, "Error Sending Mail: -6"},
        {"refuses HELO", "x@scripted.test", "send 220 hi\nexpect HELO\nsend 500 no\nstall", "hi", nullptr, "Error Sending Mail: -5"},
        {"closes during DATA", "x@scripted.test", kToData + "expect x\nclose", eightMegabytes.substr(0, 4'000'000), nullptr,
         "Error Sending Mail: -6 or Error Sending Mail: -5"},
        {"no MX record", " x@nomx.test", "", "hi", nullptr, "Bad Email:  x@nomx.test"},
        {"server failure", "x@servfail.test", "", "hi", nullptr, "DNS Error. (Ensure You Have An Internet Connection!)"},
        {"exchanger without address", "x@ghost.test", kTakeMail, "hi", nullptr, "Unable To Connect To Mailbox!"},
        // Refused before connecting: connecting would fail with -3.
        {"line without a space", "x@scripted.test", "", std::string(2000, 'x'), nullptr, "Error Sending Mail: -4"},
        {"cancel at the greeting", "x@scripted.test", "expect RSET\nstall", "hi", "Connecting to Server..",
         "Operation Cancelled By User.", "RSET\r\n"},
        {"cancel at the DATA reply", "x@scripted.test",
         "send 220 hi\nexpect HELO\nsend 250 ok\nexpect MAIL\nsend 250 ok\nexpect RCPT\nsend 250 ok\nexpect DATA\nexpect RSET\nstall",
         "hi", "Sending Message... 0% Complete", "Operation Cancelled By User.", "DATA\r\nRSET\r\n"},
        {"cancel mid-message", "x@scripted.test", kToData + "sleep 2000\nstall", lines, "Sending Message... 1% Complete",
         "Operation Cancelled By User."},
        {"cancel after the end of data", "x@scripted.test", kToData + "sleep 1000\nuntil .\nsend 250 queued\nexpect QUIT\nstall",
         "hi", "Closing Connection...", "Mail Sent Successfully", ".\r\nQUIT\r\n"},
        // Last: the name server sleeps through its slow answer.
        {"cancel at the look-up", "x@slow.test", "", "hi", "Finding Mailbox...", "Operation Cancelled By User"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto server = c.script.empty() ? nullptr : std::make_unique<ScriptedPeer>(c.script, "0.0.0.0", 25);
        Send send({"", c.to, "", c.body, ""}, {std::chrono::milliseconds(200), std::chrono::milliseconds(20)});
        if (c.cancelAt) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return send.Saw(c.cancelAt); }, 20000));
            QTest::qWait(200);
            send.cancel.Cancel();
        }
        const std::string last = send.Finish();
        EXPECT_TRUE(last == c.last || c.last.starts_with(last + " or ") || c.last.ends_with(" or " + last)) << last;
        EXPECT_TRUE(send.Saw("<idle>"));
        EXPECT_TRUE(!server || server->Received().ends_with(c.received)) << (server ? server->Received().substr(0, 200) : "");
    }
}

// ---- the page ---------------------------------------------------------------

class MailPage : public MailPeers {
protected:
    void SetUp() override
    {
        MailPeers::SetUp();
        SetMessageHook([this](QWidget*, const QString& text, MessageKind kind, const QString&) {
            messages_ << text;
            return kind == MessageKind::Confirm ? answer_ : true;
        });
    }
    void TearDown() override { SetMessageHook(nullptr); }
    template <typename T = QLineEdit>
    T* Item(int id) const { return page_->Item<T>(id); }
    QString Status() const { return Item<QLabel>(SmtpMailControls::kStatusLine)->text(); }
    QPushButton* SendButton() const { return Item<QPushButton>(SmtpMailControls::kSendButton); }
    bool WaitStatus(const QString& text, const QString& button = "Send")
    {
        return QTest::qWaitFor([&] { return Status() == text && SendButton()->text() == button; }, 10000);
    }

    std::unique_ptr<SmtpMailPage> page_ = std::make_unique<SmtpMailPage>(nullptr);
    QStringList messages_;
    bool answer_ = true;
};

TEST_F(MailPage, ToChecksConfirmationAndRemove)
{
    using namespace SmtpMailControls;
    const QString author = "Please use your own email program to Email me.\r\n\r\nThank You :)";
    const QString sure = "Are You Sure You Want To Send The Message?";
    const struct {
        QString to, subject;
        QStringList messages;
        bool emptied = false, answer = true, threadStarts = true;
    } cases[] = {
        {"  QUORLIX@Example.Org ", "", {author}, true},
        {"me <quorlix@example.org>", "", {author}, true},
        {"nobody", "", {"Not a valid email recipient"}},
        {"a@b@c", "", {"Can only send to one recipient at a time."}},
        {"a@ok.test", "x\rBcc: y", {"The Subject field must not hold a line break."}},
        {"a@ok.test", "", {sure}, false, false},  // No changes nothing
        {"a@ok.test", "", {sure, "Unable To Create Thread!"}, false, true, false},
    };
    for (const auto& c : cases) {
        messages_.clear();
        answer_ = c.answer;
        Item(kToBox)->setText(c.to);
        Item(kSubjectBox)->setText(c.subject);
        const auto gate = WorkerTask::threadGate;
        if (!c.threadStarts)
            WorkerTask::threadGate = [] { return false; };
        SendButton()->click();
        WorkerTask::threadGate = gate;
        EXPECT_EQ(messages_, c.messages) << c.to.toStdString();
        EXPECT_EQ(Item(kToBox)->text().isEmpty(), c.emptied) << c.to.toStdString();
        EXPECT_TRUE(WaitStatus("Idle") && Item(kToBox)->isEnabled());
    }
    Item(kAttachmentBox)->setText("/etc/hostname");
    Item<QPushButton>(kRemoveButton)->click();
    EXPECT_TRUE(Item(kAttachmentBox)->text().isEmpty());
}

// Send and Cancel, two sends in a row, then closing the page while it waits
// after the end of data: it goes without waiting for the reply, so no QUIT.
TEST_F(MailPage, SendCancelSendAgainAndClose)
{
    using namespace SmtpMailControls;
    const auto saver = SavingSmtpServer("127.0.2.1", files_.Path("saved"));
    ASSERT_TRUE(saver);
    ScriptedPeer server("sleep 1500\n" + kToData + "until .\nsleep 1000\nsend 250 queued\nexpect QUIT\nstall", "127.0.3.1", 25);

    Item(kToBox)->setText("x@scripted.test");
    SendButton()->click();
    EXPECT_FALSE(Item(kToBox)->isEnabled());
    ASSERT_TRUE(WaitStatus("Connecting to Server..", "Cancel"));
    SendButton()->click();
    EXPECT_EQ(Status(), "Aborting Operation...");
    EXPECT_TRUE(WaitStatus("Operation Cancelled By User."));
    EXPECT_TRUE(Item(kToBox)->isEnabled());

    // The first one's ending never touches the second.
    Item(kToBox)->setText("x@ok.test");
    Item<QPlainTextEdit>(kMessageBox)->setPlainText("line one\n.line two");
    for (int i = 1; i <= 2; ++i) {
        SendButton()->click();
        EXPECT_TRUE(WaitStatus("Mail Sent Successfully")) << Status().toStdString();
        EXPECT_TRUE(Saved(files_.Path("saved/msg" + std::to_string(i) + ".eml")).ends_with("\r\n\r\nline one\r\n.line two\r\n\r\n" + kMailDelimiter + "--\r\n\r\n"));
    }

    Item(kToBox)->setText("x@scripted.test");
    SendButton()->click();
    ASSERT_TRUE(WaitStatus("Closing Connection...", "Cancel"));
    SendButton()->click();  // the mail went out: Cancel is no longer honoured
    QTest::qWait(300);
    EXPECT_EQ(SendButton()->text(), "Cancel");
    page_.reset();
    EXPECT_TRUE(server.Received().ends_with("--\r\n\r\n.\r\n")) << server.Received();
}

}  // namespace
