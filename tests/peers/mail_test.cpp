// Mail delivery against peers in a network namespace of the test's own: the
// name server of /etc/resolv.conf answers MX and A records, aiosmtpd saves what
// it receives byte for byte, and scripted servers play the odd ones. Needs root.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "base64/Base64.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"
#include "mail/SmtpMailPage.h"
#include "support/MailPeers.h"
#include "support/MailTestSink.h"
#include "support/PrivateNameServer.h"
#include "support/TempFiles.h"
#include "templates/ControlIds.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Server = ScriptedSmtpServer;

// "1mx.ok.test" begins with a digit; "nowhere.ghost.test" does not resolve.
PrivateNameServer* const g_network = static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(
    new PrivateNameServer(AnswerFrom({.mx = {{"ok.test", {"1mx.ok.test"}},
                                             {"scripted.test", {"mx.scripted.test"}},
                                             {"slow.test", {"mx.scripted.test"}},
                                             {"two.test", {"a.two.test", "b.two.test"}},
                                             {"tc.test", {"a.two.test", "b.two.test"}},  // truncated; over TCP a alone
                                             {"ghost.test", {"nowhere.ghost.test"}}},
                                      .a = {{"1mx.ok.test", 0x7f000201}, {"mx.scripted.test", 0x7f000301},
                                            {"a.two.test", 0x7f000401}, {"b.two.test", 0x7f000402}}}))));

class MailPeers : public testing::Test {
protected:
    void SetUp() override
    {
        if (!g_network->Server())
            GTEST_SKIP() << "needs root, to make a network namespace of its own";
    }
    TempFiles files_{std::string("mail-") + testing::UnitTest::GetInstance()->current_test_info()->name()};
};

std::string Repeat(const std::string& text, std::size_t times)
{
    std::string s;
    s.reserve(text.size() * times);
    while (times--)
        s += text;
    return s;
}

// A whole send on a thread of its own, as the page runs it.
struct Send : TestMailOperation {
    explicit Send(MailFields fields, MailOperation::TransferTime transferTime = {})
    {
        operation.transferTime = transferTime;
        thread = std::thread([this, fields = std::move(fields)] { RunMailOperation(fields, operation); });
    }
    ~Send() { Finish(); }
    std::string Finish()
    {
        if (thread.joinable())
            thread.join();
        return Last();
    }
    std::thread thread;
};

// The text part read as format=flowed: stuffing removed, then soft breaks joined but for the signature separator.
std::string ReadFlowed(std::string text)
{
    const std::size_t body = text.find("format=flowed\r\n\r\n");
    std::size_t end = text.find("\r\n" + kMailDelimiter, body);
    for (std::size_t at = body; (at = text.find("\n ", at)) < end; --end)
        text.erase(++at, 1);
    for (std::size_t at = body; (at = text.find(" \r\n", at)) < end;) {
        if (text.compare(at - 3, 3, "\n--") == 0)
            at += 3;
        else
            text.erase(++at, 2), end -= 2;
    }
    return text;
}

TEST_F(MailPeers, DeliveredAsComposedByteForByte)
{
    SavingSmtpServer server("127.0.2.1", files_.Path("saved"));
    ASSERT_TRUE(server.Ready());
    const std::pair<std::string, std::size_t> cases[] = {  // the body, the attachment's size
        {"Hello\r\nthere", 0}, {"one\r\n", 57}, {"", 58}, {"big", 1'000'000}, {".\r\n..\r\n.start\r\nend.", 0},
        {"word" + Repeat(" From", 999) + "\r\nafter", 0}, {" indented\r\nFrom me\r\nspaces at the end  \r\n two \r\n-- \r\nMe", 0},
    };
    int n = 0;
    for (const auto& [body, size] : cases) {
        SCOPED_TRACE(++n);
        const std::string bytes = RandomBytes(size, unsigned(size));
        const std::string name = size ? "file" + std::to_string(size) + ".bin" : "";
        Send send({"Me <me@home>", " Some.One@ok.test ", "Test", body, size ? files_.Write(name, bytes) : ""});
        ASSERT_EQ(send.Finish(), "Mail Sent Successfully");
        const auto [received, envelope] = server.Message(n);
        EXPECT_EQ(envelope, "HELO HELLO\nMAIL FROM Some.One@ok.test\nRCPT TO Some.One@ok.test\n");
        // The end of data follows the message's last CR LF with one of its own.
        // Read as flowed, the text comes back as typed, blanks at line ends aside.
        const std::string typed =
            std::regex_replace(std::regex_replace(body, std::regex(" +(\r\n|$)"), "$1"), std::regex("\n--\r"), "\n-- \r");
        EXPECT_TRUE(ReadFlowed(received) ==
                    ExpectedMailMessage("Me <me@home>", " Some.One@ok.test ", "Test", typed, name, bytes) + "\r\n");
        EXPECT_EQ(received.find("\nFrom "), std::string::npos);
        if (size) {
            const std::size_t begin = received.find("\r\n\r\n", received.find("Content-Disposition")) + 4;
            const std::size_t end = received.find("\r\n\r\n" + kMailDelimiter, begin);
            const std::string base64 = received.substr(begin, end - begin);
            std::string decoded(size + 3, '\0');
            decoded.resize(std::size_t(Base64Decode(base64.c_str(), decoded.data(), std::int64_t(decoded.size()))));
            EXPECT_TRUE(decoded == bytes);
        }
    }
}

TEST_F(MailPeers, ExchangersTriedFromTheLast)
{
    Server a("127.0.4.1", TakeMail()), overTcp(ResolverAddress(), [](Server& s) {
        DnsReplyBuilder r;  // tc.test's answer with its second record cut short
        r.U16(0).Header(1234, 0x8580, 1, 2, 0, 0).Question("tc.test", 15).Pointer(12).Fixed(15, 300, 14).U16(10);
        r.bytes[1] = std::uint8_t(r.Name("a.two.test").Pointer(12).Size() - 2);
        if (s.Take(std::string_view("\0\x0f\0\x01", 4)))  // the query's end: MX, IN
            s.Send(std::string(r.bytes.begin(), r.bytes.end()));
    }, 53);
    for (auto [to, bOn, aGot] : {std::tuple{"x@two.test", true, 0}, {"x@two.test", false, 1}, {"x@tc.test", true, 2}}) {
        const auto b = bOn ? std::make_unique<Server>("127.0.4.2", TakeMail()) : nullptr;
        Send send({"", to, "", "hi", ""});
        EXPECT_EQ(send.Finish(), "Mail Sent Successfully");
        EXPECT_EQ(send.Saw("Error Sending Mail: -3"), !bOn);
        EXPECT_EQ(a.Connections(), aGot) << to;
    }
}

// Every way a send ends, and Cancel pressed at each stage. The exchanger
// listens on every address of the namespace, 0.0.0.0 included.
TEST_F(MailPeers, OutcomesAndCancel)
{
    const Server::Script silent = [](Server& s) { s.WaitClosed(); };
    const std::string eightMegabytes = Repeat(std::string(98, 'x') + "\r\n", 80'000);  // more than buffers hold
    const struct {
        const char* name;
        std::string to;
        Server::Script script;  // none: nothing listens
        std::string body;
        const char* cancelAt;  // the status after which Cancel is pressed
        std::string last;      // "or" between texts that may both end it
        Clock::duration time{};  // at least; after Cancel, the most it may take
        bool reset = false;    // RSET, not QUIT, ends what the server received
    } cases[] = {
        {"greeting in two segments", "x@scripted.test",
         [](Server& s) {
             s.Send("220-first line\r\n");
             std::this_thread::sleep_for(200ms);
             if (GreetToData(s, "220 second line\r\n") && s.Take("\r\n.\r\n")) {
                 s.Send("250 queued\r\n");
                 s.WaitClosed();  // no answer to QUIT: one second more
             }
         },
         "hi", nullptr, "Mail Sent Successfully", 1s},
        {"never answers", "x@scripted.test", silent, "hi", nullptr, "Error Sending Mail: -5", 5s},
        {"8 MB read after 1 s", "x@scripted.test", TakeMail(1000), eightMegabytes, nullptr, "Mail Sent Successfully"},
        {"8 MB read after 4 s", "x@scripted.test", TakeMail(4000), eightMegabytes, nullptr, "Error Sending Mail: -6"},
        {"refuses HELO", "x@scripted.test", [](Server& s) { Reply(s, {"220 hi\r\n", "500 no\r\n"}); s.WaitClosed(); },
         "hi", nullptr, "Error Sending Mail: -5"},
        {"closes during DATA", "x@scripted.test",
         [](Server& s) {
             if (GreetToData(s))
                 s.Take();  // then closes with the rest unread
         },
         Repeat(std::string(98, 'x') + "\r\n", 40'000), nullptr, "Error Sending Mail: -6 or Error Sending Mail: -5"},
        {"no MX record", " x@nomx.test", nullptr, "hi", nullptr, "Bad Email:  x@nomx.test"},
        {"server failure", "x@servfail.test", nullptr, "hi", nullptr,
         "DNS Error. (Ensure You Have An Internet Connection!)"},
        {"exchanger without address", "x@ghost.test", TakeMail(), "hi", nullptr, "Unable To Connect To Mailbox!"},
        // Refused before connecting: connecting would fail with -3.
        {"line without a space", "x@scripted.test", nullptr, std::string(2000, 'x'), nullptr, "Error Sending Mail: -4"},
        {"cancel at the greeting", "x@scripted.test", silent, "hi", "Connecting to Server..",
         "Operation Cancelled By User.", 2s, true},
        {"cancel at the DATA reply", "x@scripted.test",
         [](Server& s) { Reply(s, {"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n"}); s.WaitClosed(); },
         "hi", "Sending Message... 0% Complete", "Operation Cancelled By User.", 2s, true},
        {"cancel mid-message", "x@scripted.test",
         [](Server& s) {
             if (GreetToData(s))
                 std::this_thread::sleep_for(2s);  // reads nothing, so the client's sends stall
         },
         Repeat(std::string(98, 'x') + "\r\n", 200'000), "Sending Message... 1% Complete",
         "Operation Cancelled By User.", 2s},
        {"cancel after the end of data", "x@scripted.test", TakeMail(1000), "hi", "Closing Connection...",
         "Mail Sent Successfully", 2s},
        // Last: the name server sleeps through its slow answer.
        {"cancel at the look-up", "x@slow.test", nullptr, "hi", "Finding Mailbox...", "Operation Cancelled By User", 2s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Server> server;
        if (c.script)
            server = std::make_unique<Server>("0.0.0.0", c.script);
        auto start = Clock::now();
        Send send({"", c.to, "", c.body, ""}, {200ms, 20ms});
        if (c.cancelAt) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return send.Saw(c.cancelAt); }, 20000));
            std::this_thread::sleep_for(200ms);
            start = Clock::now();
            send.cancel.Cancel();
        }
        const std::string last = send.Finish();
        EXPECT_TRUE(last == c.last || c.last.starts_with(last + " or ") || c.last.ends_with(" or " + last)) << last;
        // After Cancel at once, not after a reply's time-out.
        EXPECT_EQ(Clock::now() - start < c.time, c.cancelAt != nullptr) << (Clock::now() - start) / 1ms << " ms";
        EXPECT_TRUE(send.Saw("<idle>"));
        if (c.reset) {
            EXPECT_TRUE(server->Received().ends_with("RSET\r\n")) << server->Received();
            EXPECT_EQ(server->Received().find("QUIT"), std::string::npos);
        }
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
    QString Status() const { return page_->Item<QLabel>(SmtpMailControls::kStatusLine)->text(); }
    QPushButton* SendButton() const { return page_->Item<QPushButton>(SmtpMailControls::kSendButton); }
    QLineEdit* ToBox() const { return page_->Item<QLineEdit>(SmtpMailControls::kToBox); }
    bool WaitStatus(const QString& text)
    {
        return QTest::qWaitFor([&] { return Status() == text && SendButton()->text() == "Send"; }, 10000);
    }

    std::unique_ptr<SmtpMailPage> page_ = std::make_unique<SmtpMailPage>(nullptr);
    QStringList messages_;
    bool answer_ = true;
};

TEST_F(MailPage, ToChecksConfirmationAndRemove)
{
    const QString author = "Please use your own email program to Email me.\r\n\r\nThank You :)";
    const QString sure = "Are You Sure You Want To Send The Message?";
    const struct {
        QString to;
        QString subject;
        QStringList messages;
        bool emptied = false;
        bool answer = true;
        bool threadStarts = true;
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
        ToBox()->setText(c.to);
        page_->Item<QLineEdit>(SmtpMailControls::kSubjectBox)->setText(c.subject);
        const auto gate = WorkerTask::threadGate;
        if (!c.threadStarts)
            WorkerTask::threadGate = [] { return false; };
        SendButton()->click();
        WorkerTask::threadGate = gate;
        EXPECT_EQ(messages_, c.messages) << c.to.toStdString();
        EXPECT_EQ(ToBox()->text().isEmpty(), c.emptied) << c.to.toStdString();
        EXPECT_EQ(SendButton()->text(), "Send");
        EXPECT_TRUE(ToBox()->isEnabled());
        EXPECT_EQ(Status(), "Idle");
    }
    EXPECT_EQ(page_->Item<QPushButton>(SmtpMailControls::kChooseButton)->accessibleName(), "Choose attachment");
    page_->Item<QLineEdit>(SmtpMailControls::kAttachmentBox)->setText("/etc/hostname");
    page_->Item<QPushButton>(SmtpMailControls::kRemoveButton)->click();
    EXPECT_TRUE(page_->Item<QLineEdit>(SmtpMailControls::kAttachmentBox)->text().isEmpty());
}

// Send and Cancel, two sends in a row, then closing the page while it waits
// after the end of data.
TEST_F(MailPage, SendCancelSendAgainAndClose)
{
    SavingSmtpServer saver("127.0.2.1", files_.Path("saved"));
    ASSERT_TRUE(saver.Ready());
    std::atomic<int> connections = 0;
    Server server("127.0.3.1", [&connections](Server& s) {
        if (++connections > 1 && GreetToData(s))  // silent the first time
            s.Take("\r\n.\r\n");                  // no reply to the end of data
        s.WaitClosed();
    });

    ToBox()->setText("x@scripted.test");
    SendButton()->click();
    EXPECT_EQ(SendButton()->text(), "Cancel");
    EXPECT_FALSE(ToBox()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == "Connecting to Server.."; }, 10000));
    SendButton()->click();
    EXPECT_EQ(Status(), "Aborting Operation...");
    EXPECT_TRUE(WaitStatus("Operation Cancelled By User."));
    EXPECT_TRUE(ToBox()->isEnabled());

    // The first one's ending never touches the second.
    ToBox()->setText("x@ok.test");
    page_->Item<QPlainTextEdit>(SmtpMailControls::kMessageBox)->setPlainText("line one\n.line two");
    for (int i = 1; i <= 2; ++i) {
        SendButton()->click();
        EXPECT_TRUE(WaitStatus("Mail Sent Successfully")) << Status().toStdString();
        const std::string received = saver.Message(i).first;
        EXPECT_NE(received.find("\r\n\r\nline one\r\n.line two\r\n\r\n" + kMailDelimiter), std::string::npos);
    }

    ToBox()->setText("x@scripted.test");
    SendButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == "Closing Connection..."; }, 10000));
    SendButton()->click();  // the mail went out: Cancel is no longer honoured
    QTest::qWait(300);
    EXPECT_EQ(SendButton()->text(), "Cancel");
    const auto closing = Clock::now();
    page_.reset();
    EXPECT_LT(Clock::now() - closing, 2s);  // not the reply's 15 s
}

}  // namespace
