#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "mail/MailOperation.h"
#include "support/MailTestSink.h"

namespace {

using namespace std::string_literals;

class TempDir {
public:
    TempDir() : path_("/tmp/quorlix-mail-unit-" + std::to_string(getpid())) { mkdir(path_.c_str(), 0700); }
    ~TempDir() { std::system(("rm -rf " + path_).c_str()); }
    std::string File(const std::string& name, const std::string& bytes) const
    {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

struct Composed {
    bool ok;
    std::string message;
    std::vector<std::string> texts;
};

Composed Compose(const MailFields& fields, bool cancelled = false)
{
    RecordingMailSink sink;
    MailOperation operation(sink);
    if (cancelled)
        operation.Cancel();
    Composed c;
    c.ok = ComposeMailMessage(fields, operation, c.message);
    c.texts = sink.Texts();
    return c;
}

TEST(MimeMessage, LayoutWithAndWithoutAttachment)
{
    TempDir dir;
    struct Case {
        std::size_t size;
        const char* lastLines;  // how the base64 text ends, before the closing pieces
    } cases[] = {{0, ""}, {57, "\r\n"}, {58, "=="}, {1'000'000, ""}, {3'000'000 + 1, "=="}};
    for (const auto& c : cases) {
        MailFields fields{"me <x@y>", " Some@Example.test ", "Hi", ".a\r\nb", {}};
        std::string bytes;
        if (c.size) {
            bytes = RandomBytes(c.size, unsigned(c.size));
            fields.attachmentPath = dir.File("f" + std::to_string(c.size) + ".bin", bytes);
        }
        const Composed got = Compose(fields);
        ASSERT_TRUE(got.ok) << c.size;
        const std::string name = c.size ? "f" + std::to_string(c.size) + ".bin" : "";
        EXPECT_TRUE(got.message == ExpectedMailMessage(fields.from, fields.to, "Hi", ".a\r\nb", name, bytes)) << c.size;
        EXPECT_EQ(got.message.find('\0'), std::string::npos) << c.size;
        const std::string end = c.lastLines + "\r\n\r\n------=_NextPart_000_6e7b_5157_626a--\r\n"s;
        if (*c.lastLines) {
            EXPECT_TRUE(got.message.ends_with(end)) << c.size;
        }
        EXPECT_EQ(got.texts, std::vector<std::string>(c.size ? 1 : 0, "Encoding Attachment...")) << c.size;
    }
    // One 76-character line for 57 bytes, a second of 4 characters for 58.
    const std::string one = Compose({"", "a@b", "", "", dir.File("57", std::string(57, 'x'))}).message;
    EXPECT_NE(one.find("\r\n\r\n" + std::string("eHh4") + "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4\r\n\r\n\r\n--"),
              std::string::npos);
}

TEST(MimeMessage, AttachmentFailures)
{
    TempDir dir;
    const std::string fifo = dir.Path() + "/fifo";
    mkfifo(fifo.c_str(), 0600);
    const struct {
        std::string path;
        const char* text;
    } cases[] = {
        {dir.Path() + "/missing", "Unable to open file. (CreateFileMapping)"},
        {dir.Path(), "Unable to open file. (CreateFileMapping)"},
        {fifo, "Unable to open file. (CreateFileMapping)"},  // never blocks
        {dir.File("empty", ""), "Unable to Encode file"},
    };
    for (const auto& c : cases) {
        const Composed got = Compose({"", "a@b", "", "", c.path});
        EXPECT_FALSE(got.ok) << c.path;
        EXPECT_EQ(got.texts, std::vector<std::string>{c.text}) << c.path;
    }
    const Composed cancelled = Compose({"", "a@b", "", "", dir.File("one", "1")}, true);
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ(cancelled.texts, (std::vector<std::string>{"Operation Cancelled By User", "<idle>"}));
}

TEST(MimeMessage, FileNamesAndFieldChecks)
{
    const std::pair<std::string, std::string> names[] = {
        {"/home/u/report.pdf", "report.pdf"}, {"plain", "plain"}, {"/a/b\\c \"d\".txt", "b\\\\c \\\"d\\\".txt"},
        {"/x/tab\there\x7f", "tab_here_"},    {"/dir/", ""},
    };
    for (const auto& [path, name] : names)
        EXPECT_EQ(AttachmentFileName(path), name) << path;

    const struct {
        MailFields fields;
        const char* problem;
    } cases[] = {
        {{"f", "a@b", "s", "body\r\n", ""}, ""},
        {{"f", "a@b", "s\r\nBcc: x", "", ""}, "The Subject field must not hold a line break."},
        {{"f\n", "a@b", "s", "", ""}, "The From field must not hold a line break."},
        {{"f", "a@b\0"s, "s", "", ""}, "The To field must not hold a line break."},
        {{std::string(991, 'f'), std::string(993, 't'), std::string(988, 's'), "", ""}, ""},
        {{std::string(992, 'f'), "a@b", "", "", ""}, "The From field is too long (at most 991 bytes)."},
        {{"", std::string(994, 't'), "", "", ""}, "The To field is too long (at most 993 bytes)."},
        {{"", "a@b", std::string(989, 's'), "", ""}, "The Subject field is too long (at most 988 bytes)."},
        {{"", "a@b", "", "", "/x/" + std::string(207, '"')}, "The File Attachment name is too long (at most 413 bytes)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MailFieldProblem(c.fields), c.problem) << c.fields.subject.substr(0, 20);
}

// The wire lines of a whole message, "|" after each.
std::string WireLines(const std::string& message, std::int64_t* result = nullptr)
{
    std::string wire;
    std::int64_t position = 0;
    while ((position = NextMessageLine(message, std::size_t(position), wire)) > 0)
        wire += "|";
    if (result)
        *result = position;
    return wire;
}

TEST(SmtpDialogue, MessageLines)
{
    const std::string words = [] {
        std::string s;
        while (s.size() < 5000)
            s += "wörd ";
        s.pop_back();
        return s;
    }();
    const struct {
        std::string message;
        std::string wire;
    } cases[] = {
        {"a\r\nb", "a\r\n|b\r\n|"},
        {".\r\n..\r\n.x\r\nx.\r\n", "..\r\n|...\r\n|..x\r\n|x.\r\n|"},
        {"\r\n\r\n", "\r\n|\r\n|"},
        {std::string(998, 'a') + "\r\n", std::string(998, 'a') + "\r\n|"},
        {"." + std::string(996, 'a'), ".." + std::string(996, 'a') + "\r\n|"},
        {std::string(500, 'a') + " " + std::string(600, 'b'),
         std::string(500, 'a') + " \r\n|" + std::string(600, 'b') + "\r\n|"},
        // Split after the last space not followed by another.
        {std::string(500, 'a') + "  " + std::string(600, 'b'),
         std::string(500, 'a') + "  \r\n|" + std::string(600, 'b') + "\r\n|"},
        {std::string(500, 'a') + " ." + std::string(600, 'b'),
         std::string(500, 'a') + " \r\n|.." + std::string(600, 'b') + "\r\n|"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(WireLines(c.message) == c.wire) << c.message.substr(0, 30);

    // A long paragraph: lines within 998 bytes that join back to it.
    const std::string wire = WireLines(words + "\r\nend");
    std::string joined;
    std::size_t start = 0;
    for (std::size_t bar; (bar = wire.find('|', start)) != std::string::npos; start = bar + 1) {
        const std::string line = wire.substr(start, bar - start);
        EXPECT_LE(line.size(), 1000u);
        EXPECT_TRUE(line.ends_with("\r\n"));
        joined += line.ends_with(" \r\n") ? line.substr(0, line.size() - 2) : line;
    }
    EXPECT_TRUE(joined == words + "\r\nend\r\n");

    for (const std::string& unsplittable : {std::string(2000, 'x'), std::string(999, 'x') + " y", "a\r\n." + std::string(998, 'x')}) {
        std::int64_t result = 0;
        WireLines(unsplittable, &result);
        EXPECT_EQ(result, -4);
        EXPECT_EQ(CheckMessageLines(unsplittable), -4);
    }
    EXPECT_EQ(CheckMessageLines(words), 0);
}

TEST(SmtpDialogue, ReplyScan)
{
    const struct {
        std::string data;
        std::size_t taken;
        int code;
    } cases[] = {
        {"220 ready\r\n", 11, 220},
        {"250\r\n", 5, 250},
        {"250-a\r\n250-b\r\n250 c\r\nNEXT", 21, 250},
        {"250-a\r\n250-b\r\n", 0, 0},
        {"220 rea", 0, 0},
        {"22\r\n", 4, -1},
        {"abc def\r\n", 9, -1},
        {"2x0 no\r\n", 8, -1},
        {"250-a\r\nxyz\r\n", 12, -1},
        {"250_a\r\n", 7, -1},
    };
    for (const auto& c : cases) {
        int code = 0;
        EXPECT_EQ(ScanSmtpReply(c.data, code), c.taken) << c.data;
        if (c.taken) {
            EXPECT_EQ(code, c.code) << c.data;
        }
    }
}

TEST(SmtpDialogue, RepliesAcrossSegmentsKeepWhatFollows)
{
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    RecordingMailSink sink;
    MailOperation operation(sink);
    SmtpConnection connection{pair[0], {}};
    std::thread peer([fd = pair[1]] {
        (void)!write(fd, "220-first\r\n", 11);
        usleep(120'000);
        (void)!write(fd, "220 second\r\n250 next\r\n", 22);
    });
    EXPECT_EQ(ReadSmtpReply(connection, 2000, MailProgress, MailStageConnecting, operation), 220);
    EXPECT_EQ(ReadSmtpReply(connection, 2000, MailProgress, MailStageCommunicating, operation), 250);
    peer.join();
    EXPECT_EQ(ReadSmtpReply(connection, 120, MailProgress, MailStageCommunicating, operation), -1);  // silence
    std::string flood(kSmtpReplyLimit + 10, 'x');
    flood.replace(0, 4, "250-");
    std::thread flooder([&] { (void)!write(pair[1], flood.data(), flood.size()); });
    EXPECT_EQ(ReadSmtpReply(connection, 2000, nullptr, 0, operation), -1);
    flooder.join();
    operation.Cancel();
    EXPECT_EQ(ReadSmtpReply(connection, 2000, MailProgress, MailStageConnecting, operation), -7);
    close(pair[1]);
    connection.pending.clear();
    EXPECT_EQ(ReadSmtpReply(connection, 2000, nullptr, 0, operation), -1);  // closed
    close(pair[0]);
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Connecting to Server..", "Communicating With Server..."}));
}

TEST(SmtpDialogue, ProgressTextsAndTheirMemory)
{
    RecordingMailSink sink;
    MailOperation operation(sink);
    const std::pair<int, std::int64_t> calls[] = {{1, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {4, 25}, {4, 25},
                                                  {4, 100}, {5, 0}, {7, -3}, {9, 0}, {6, 0}, {5, 0}};
    for (const auto& [stage, value] : calls)
        MailProgress(stage, value, operation);
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{
                                "Preparing Connection...", "Connecting to Server..", "Communicating With Server...",
                                "Sending Message... 0% Complete", "Sending Message... 25% Complete",
                                "Sending Message... 100% Complete", "Closing Connection...", "Error Sending Mail: -3",
                                "", "Mail Sent Successfully", "<idle>"}));
    EXPECT_TRUE(operation.CancelRequested());

    // A new operation starts afresh; an error other than -3 ends it.
    RecordingMailSink second;
    MailOperation next(second);
    EXPECT_TRUE(MailProgress(1, 0, next) && MailProgress(7, -5, next));
    EXPECT_FALSE(MailProgress(7, -7, next));
    EXPECT_EQ(second.Texts(), (std::vector<std::string>{"Preparing Connection...", "Error Sending Mail: -5", "<idle>"}));
}

TEST(SmtpDialogue, RefusedBeforeAnyTraffic)
{
    RecordingMailSink sink;
    MailOperation operation(sink);
    EXPECT_EQ(SmtpSendMail(0x0100007f, 25, "", "a@b", "x", MailProgress, operation), -1);
    EXPECT_EQ(SmtpSendMail(0x0100007f, 25, "a@b", "a@b", "", MailProgress, operation), -1);
    // Unresolved exchangers count as failed connections; nothing is connected.
    for (const std::uint32_t address : {0u, 0xFFFFFFFFu})
        EXPECT_EQ(SmtpSendMail(address, 25, "a@b", "a@b", "x", MailProgress, operation), -3);
    EXPECT_EQ(SmtpSendMail(0x0100007f, 1, "a@b", "a@b", std::string(2000, 'x'), MailProgress, operation), -4);
    EXPECT_EQ(sink.Last(), "Error Sending Mail: -4");

    std::uint32_t exchangers[kMaxMailExchangers] = {};
    for (const char* to : {"nobody", "nobody@"})
        EXPECT_EQ(FindMailExchangers(to, exchangers, operation), 0);
}

}  // namespace
