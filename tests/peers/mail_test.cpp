// Mail delivery against peers in a network namespace of the test's own: the
// name server of /etc/resolv.conf answers MX and A records from TestMailZone,
// aiosmtpd saves what it receives byte for byte, and scripted servers play
// the odd ones (silent, closing, slow, split greetings). Needs root.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <string>
#include <thread>

#include "base64/Base64.h"
#include "mail/MailOperation.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"
#include "mail/SmtpMailPage.h"
#include "support/MailPeers.h"
#include "support/MailTestSink.h"
#include "support/PrivateNameServer.h"
#include "support/TempFiles.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(AnswerMailQuery)));

const std::string kDelimiter = "------=_NextPart_000_6e7b_5157_626a";

class MailPeers : public testing::Test {
protected:
    void SetUp() override
    {
        if (!g_network->Server())
            GTEST_SKIP() << "needs root, to make a network namespace of its own";
        files_ = std::make_unique<TempFiles>(std::string("mail-peers-") +
                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        outdir_ = files_->Path("saved");
        MailZone zone;
        zone.mx["ok.test"] = {"1mx.ok.test"};  // a name that begins with a digit
        zone.a["1mx.ok.test"] = 0x7f000201;
        for (const char* domain : {"silent.test", "slow.test", "scripted.test"})
            zone.mx[domain] = {"mx.scripted.test"};
        zone.a["mx.scripted.test"] = 0x7f000301;
        zone.mx["two.test"] = {"a.two.test", "b.two.test"};
        zone.a["a.two.test"] = 0x7f000401;
        zone.a["b.two.test"] = 0x7f000402;
        zone.mx["ghost.test"] = {"nowhere.ghost.test"};  // does not resolve
        SetTestMailZone(std::move(zone));
    }
    std::unique_ptr<TempFiles> files_;
    std::string outdir_;
};

// A message text of about size bytes in lines of 100.
std::string ShortLines(std::size_t size)
{
    std::string text;
    text.reserve(size);
    while (text.size() < size)
        text += std::string(98, 'x') + "\r\n";
    return text;
}

// A whole send on a thread of its own, as the page runs it.
struct Send : TestMailOperation {
    Clock::time_point start = Clock::now(), end;
    std::thread thread;  // last: it runs at once and writes end

    explicit Send(MailFields fields)
        : thread([this, fields = std::move(fields)] {
              RunMailOperation(fields, operation);
              end = Clock::now();
          })
    {
    }
    ~Send() { Wait(); }
    void Wait()
    {
        if (thread.joinable())
            thread.join();
    }
    std::string Finish()
    {
        Wait();
        return sink.Last();
    }
    double Seconds() const { return std::chrono::duration<double>(end - start).count(); }
};

// The text part's format=flowed soft breaks joined again, as its reader does.
std::string JoinFlowed(std::string text)
{
    const std::size_t body = text.find("format=flowed\r\n\r\n");
    std::size_t end = text.find("\r\n" + kDelimiter, body);
    for (std::size_t at = body; (at = text.find(" \r\n", at)) < end; end -= 2)
        text.erase(++at, 2);
    return text;
}

TEST_F(MailPeers, DeliveredAsComposedByteForByte)
{
    SavingSmtpServer server("127.0.2.1", outdir_, QUORLIX_SOURCE_DIR);
    ASSERT_TRUE(server.Ready());
    std::string words;
    while (words.size() < 5000)
        words += "word ";
    words.pop_back();
    const struct {
        std::string body;
        std::size_t attachment;
    } cases[] = {
        {"Hello\r\nthere", 0},
        {"one\r\n", 57},
        {"", 58},
        {"big", 1'000'000},
        {".\r\n..\r\n.start\r\nend.", 0},
        {words + "\r\nafter", 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string bytes = RandomBytes(c.attachment, unsigned(c.attachment));
        const std::string path = files_->Write("file" + std::to_string(c.attachment) + ".bin", bytes);
        Send send({"Me <me@home>", " Some.One@ok.test ", "Test " + std::to_string(n), c.body,
                   c.attachment ? path : ""});
        ASSERT_EQ(send.Finish(), "Mail Sent Successfully") << n;
        std::string received, envelope;
        ASSERT_TRUE(server.Message(++n, received, envelope)) << n;
        EXPECT_EQ(envelope, "HELO HELLO\nMAIL FROM Some.One@ok.test\nRCPT TO Some.One@ok.test\n");
        const std::string fileName = c.attachment ? "file" + std::to_string(c.attachment) + ".bin" : "";
        // The end of data follows the message's last CR LF with one of its own.
        const std::string expected = ExpectedMailMessage("Me <me@home>", " Some.One@ok.test ", "Test " + std::to_string(n - 1),
                                                         c.body, fileName, bytes) + "\r\n";
        EXPECT_TRUE(JoinFlowed(received) == expected) << "case " << n;
        for (std::size_t start = 0, end; (end = received.find("\r\n", start)) != std::string::npos; start = end + 2)
            ASSERT_LE(end - start, 998u) << "case " << n;
        if (c.attachment) {
            const std::size_t begin = received.find("\r\n\r\n", received.find("Content-Disposition")) + 4;
            const std::string base64 = received.substr(begin, received.find("\r\n\r\n" + kDelimiter, begin) - begin);
            std::string decoded(bytes.size() + 3, '\0');
            decoded.resize(std::size_t(Base64Decode(base64.c_str(), decoded.data(), std::int64_t(decoded.size()))));
            EXPECT_TRUE(decoded == bytes) << "case " << n;
        }
    }
}

TEST_F(MailPeers, ExchangersTriedFromTheLast)
{
    auto accept = [](ScriptedSmtpServer::Session& s) { TakeMail(s); };
    ScriptedSmtpServer a("127.0.4.1", accept);
    {
        ScriptedSmtpServer b("127.0.4.2", accept);
        Send send({"", "x@two.test", "", "hi", ""});
        EXPECT_EQ(send.Finish(), "Mail Sent Successfully");
        EXPECT_EQ(b.Connections(), 1);
        EXPECT_EQ(a.Connections(), 0);
    }
    Send send({"", "x@two.test", "", "hi", ""});  // B refuses now
    EXPECT_EQ(send.Finish(), "Mail Sent Successfully");
    EXPECT_TRUE(send.sink.Saw("Error Sending Mail: -3"));
    EXPECT_EQ(a.Connections(), 1);
    EXPECT_NE(a.Received().find("HELO HELLO\r\nMAIL FROM: <x@two.test>\r\nRCPT TO: <x@two.test>\r\nDATA\r\n"),
              std::string::npos);
}

TEST_F(MailPeers, OutcomesAndTheirTexts)
{
    const struct {
        const char* name;
        ScriptedSmtpServer::Script script;
        std::string to;
        std::string body;
        std::string last;  // "or" between texts that may both end it
        double atLeastSeconds;
    } cases[] = {
        {"greeting in two segments",
         [](ScriptedSmtpServer::Session& s) {
             if (GreetToData(s, {"220-first line\r\n", "220 second line\r\n"}) && s.ReadData()) {
                 s.Send("250 queued\r\n");
                 s.WaitClosed();  // no answer to QUIT: one second more
             }
         },
         "x@scripted.test", "hi", "Mail Sent Successfully", 1.0},
        {"never answers", [](ScriptedSmtpServer::Session& s) { s.WaitClosed(); }, "x@silent.test", "hi",
         "Error Sending Mail: -5", 5.0},
        {"refuses HELO",
         [](ScriptedSmtpServer::Session& s) {
             s.Send("220 hi\r\n");
             s.Line();
             s.Send("500 no\r\n");
             s.WaitClosed();
         },
         "x@scripted.test", "hi", "Error Sending Mail: -5", 0},
        {"closes during DATA",
         [](ScriptedSmtpServer::Session& s) {
             if (GreetToData(s))
                 s.Line();
             shutdown(s.Fd(), SHUT_RDWR);
         },
         "x@scripted.test", ShortLines(4'000'000), "Error Sending Mail: -6 or Error Sending Mail: -5", 0},
        {"no MX record", nullptr, " x@nomx.test", "hi", "Bad Email:  x@nomx.test", 0},
        {"nothing after the at sign", nullptr, "x@", "hi", "Bad Email: x@", 0},
        {"server failure", nullptr, "x@servfail.test", "hi", "DNS Error. (Ensure You Have An Internet Connection!)", 0},
        {"exchanger without address", nullptr, "x@ghost.test", "hi", "Unable To Connect To Mailbox!", 0},
        {"line without a space", [](ScriptedSmtpServer::Session& s) { TakeMail(s); }, "x@scripted.test",
         std::string(2000, 'x'), "Error Sending Mail: -4", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ScriptedSmtpServer> server;
        if (c.script)
            server = std::make_unique<ScriptedSmtpServer>("127.0.3.1", c.script);
        const int queries = g_network->Server()->Queries();
        Send send({"", c.to, "", c.body, ""});
        const std::string last = send.Finish();
        EXPECT_TRUE(last == c.last || c.last.starts_with(last + " or ") || c.last.ends_with(" or " + last)) << last;
        EXPECT_GE(send.Seconds(), c.atLeastSeconds);
        EXPECT_EQ(send.sink.Texts().back(), "<idle>");
        if (c.to == "x@") {
            EXPECT_EQ(g_network->Server()->Queries(), queries);
        }
        if (c.body.size() == 2000) {
            EXPECT_EQ(server->Connections(), 0);  // refused before connecting
        }
    }
}

TEST_F(MailPeers, CancelAtEachStage)
{
    const struct {
        const char* name;
        const char* to;
        ScriptedSmtpServer::Script script;
        std::string body;
        const char* last;
        bool resetReceived;
        const char* cancelAt;  // the status after which Cancel is pressed
    } cases[] = {
        {"greeting", "x@silent.test", [](ScriptedSmtpServer::Session& s) { s.WaitClosed(); }, "hi",
         "Operation Cancelled By User.", true, "Connecting to Server.."},
        {"DATA reply",
         "x@scripted.test",
         [](ScriptedSmtpServer::Session& s) {
             s.Send("220 hi\r\n");
             for (int i = 0; i < 3; ++i) {
                 s.Line();
                 s.Send("250 ok\r\n");
             }
             s.WaitClosed();
         },
         "hi", "Operation Cancelled By User.", true, "Sending Message... 0% Complete"},
        {"mid-message",
         "x@scripted.test",
         [](ScriptedSmtpServer::Session& s) {
             if (GreetToData(s))
                 std::this_thread::sleep_for(2s);  // reads nothing, so the client's sends stall
         },
         ShortLines(20'000'000), "Operation Cancelled By User.", false, "Sending Message... 1% Complete"},
        {"after the end of data", "x@scripted.test",
         [](ScriptedSmtpServer::Session& s) { TakeMail(s, 1000); },  // cancelled while it waits
         "hi", "Mail Sent Successfully", false, "Closing Connection..."},
        // Last: the name server sleeps through its slow answer.
        {"look-up", "x@slow.test", nullptr, "hi", "Operation Cancelled By User", false, "Finding Mailbox..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ScriptedSmtpServer> server;
        if (c.script)
            server = std::make_unique<ScriptedSmtpServer>("127.0.3.1", c.script);
        Send send({"", c.to, "", c.body, ""});
        ASSERT_TRUE(QTest::qWaitFor([&] { return send.sink.Saw(c.cancelAt); }, 20000));
        std::this_thread::sleep_for(200ms);
        const auto cancelled = Clock::now();
        send.cancel.Cancel();
        EXPECT_EQ(send.Finish(), c.last);
        send.start = cancelled;
        EXPECT_LT(send.Seconds(), 2.0);  // ends at once, not after a reply time-out
        if (server && c.resetReceived) {
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
        if (IsSkipped())
            return;
        page_ = std::make_unique<SmtpMailPage>(nullptr);
        SetMessageHook([this](QWidget*, const QString& text, MessageKind kind) {
            messages_ << text;
            return kind == MessageKind::Confirm ? answer_ : true;
        });
    }
    void TearDown() override
    {
        SetMessageHook(nullptr);
        page_.reset();
    }
    template <class T>
    T* Item(int id) const
    {
        return page_->Item<T>(id);
    }
    QString Status() const { return Item<QLabel>(SmtpMailPage::kStatusLine)->text(); }
    QPushButton* SendButton() const { return Item<QPushButton>(SmtpMailPage::kSendButton); }
    bool WaitStatus(const QString& text, int ms = 10000)
    {
        return QTest::qWaitFor([&] { return Status() == text && SendButton()->text() == "Send"; }, ms);
    }

    std::unique_ptr<SmtpMailPage> page_;
    QStringList messages_;
    bool answer_ = true;
};

TEST_F(MailPage, ControlsAndToChecks)
{
    EXPECT_EQ(Status(), "Idle");
    EXPECT_EQ(Item<QLabel>(SmtpMailPage::kStatusLine)->accessibleDescription(), "Status");
    EXPECT_FALSE(Item<QLabel>(SmtpMailPage::kStatusLine)->wordWrap());
    EXPECT_EQ(Item<QPushButton>(SmtpMailPage::kChooseButton)->accessibleName(), "Choose attachment");
    EXPECT_EQ(Item<QPlainTextEdit>(SmtpMailPage::kMessageBox)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_TRUE(Item<QPlainTextEdit>(SmtpMailPage::kMessageBox)->isUndoRedoEnabled());

    const struct {
        QString to;
        QString subject;
        QString message;
        bool emptied;
    } cases[] = {
        {"  QUORLIX@Example.Org ", "", "Please use your own email program to Email me.\r\n\r\nThank You :)", true},
        {"me <quorlix@example.org>", "", "Please use your own email program to Email me.\r\n\r\nThank You :)", true},
        {"nobody", "", "Not a valid email recipient", false},
        {"a@b@c", "", "Can only send to one recipient at a time.", false},
        {"a@ok.test", QString("x\rBcc: y"), "The Subject field must not hold a line break.", false},
    };
    for (const auto& c : cases) {
        messages_.clear();
        Item<QLineEdit>(SmtpMailPage::kToBox)->setText(c.to);
        Item<QLineEdit>(SmtpMailPage::kSubjectBox)->setText(c.subject);
        SendButton()->click();
        EXPECT_EQ(messages_, QStringList{c.message}) << c.to.toStdString();
        EXPECT_EQ(Item<QLineEdit>(SmtpMailPage::kToBox)->text().isEmpty(), c.emptied) << c.to.toStdString();
        EXPECT_EQ(SendButton()->text(), "Send");
    }
    // No to the confirmation changes nothing.
    Item<QLineEdit>(SmtpMailPage::kSubjectBox)->clear();
    answer_ = false;
    messages_.clear();
    SendButton()->click();
    EXPECT_EQ(messages_, QStringList{"Are You Sure You Want To Send The Message?"});
    EXPECT_EQ(Status(), "Idle");

    // A thread that cannot start leaves the page idle.
    answer_ = true;
    messages_.clear();
    const auto gate = WorkerTask::threadGate;
    WorkerTask::threadGate = [] { return false; };
    SendButton()->click();
    WorkerTask::threadGate = gate;
    EXPECT_EQ(messages_, (QStringList{"Are You Sure You Want To Send The Message?", "Unable To Create Thread!"}));
    EXPECT_EQ(SendButton()->text(), "Send");
    EXPECT_TRUE(Item<QLineEdit>(SmtpMailPage::kToBox)->isEnabled());

    Item<QLineEdit>(SmtpMailPage::kAttachmentBox)->setText("/etc/hostname");
    Item<QPushButton>(SmtpMailPage::kRemoveButton)->click();
    EXPECT_TRUE(Item<QLineEdit>(SmtpMailPage::kAttachmentBox)->text().isEmpty());
}

TEST_F(MailPage, SendCancelAndSendAgain)
{
    SavingSmtpServer saver("127.0.2.1", outdir_, QUORLIX_SOURCE_DIR);
    ASSERT_TRUE(saver.Ready());
    ScriptedSmtpServer silent("127.0.3.1", [](ScriptedSmtpServer::Session& s) { s.WaitClosed(); });

    Item<QLineEdit>(SmtpMailPage::kToBox)->setText("x@silent.test");
    SendButton()->click();
    EXPECT_EQ(SendButton()->text(), "Cancel");
    EXPECT_FALSE(Item<QLineEdit>(SmtpMailPage::kToBox)->isEnabled());
    EXPECT_TRUE(SendButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == "Connecting to Server.."; }, 10000));
    SendButton()->click();
    EXPECT_EQ(Status(), "Aborting Operation...");
    EXPECT_TRUE(WaitStatus("Operation Cancelled By User."));
    EXPECT_TRUE(Item<QLineEdit>(SmtpMailPage::kToBox)->isEnabled());

    // Two sends in a row: the first one's ending never touches the second.
    Item<QLineEdit>(SmtpMailPage::kToBox)->setText("x@ok.test");
    Item<QPlainTextEdit>(SmtpMailPage::kMessageBox)->setPlainText("line one\n.line two");
    for (int i = 1; i <= 2; ++i) {
        SendButton()->click();
        EXPECT_TRUE(WaitStatus("Mail Sent Successfully")) << Status().toStdString();
        std::string received, envelope;
        ASSERT_TRUE(saver.Message(i, received, envelope));
        EXPECT_NE(received.find("\r\n\r\nline one\r\n.line two\r\n\r\n" + kDelimiter), std::string::npos);
    }
}

TEST_F(MailPage, ClosingEndsTheWaitAfterTheEndOfData)
{
    ScriptedSmtpServer server("127.0.3.1", [](ScriptedSmtpServer::Session& s) {
        if (GreetToData(s) && s.ReadData())
            s.WaitClosed();  // no reply to the end of data
    });
    Item<QLineEdit>(SmtpMailPage::kToBox)->setText("x@scripted.test");
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
