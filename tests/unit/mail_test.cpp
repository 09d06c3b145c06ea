#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "mail/MailOperation.h"
#include "support/MailTestSink.h"
#include "support/TempFiles.h"

namespace {

using namespace std::string_literals;

// The layout itself is compared byte for byte after delivery (peers/mail_test);
// here the ways the attachment is read, and every way of failing.
TEST(MimeMessage, Attachments)
{
    TempFiles dir("mail-unit");
    const std::string bytes = RandomBytes(3'000'001, 1);  // read in pieces, the last line short
    const std::string fifo = dir.Path("fifo");
    mkfifo(fifo.c_str(), 0600);
    const std::string open = "Unable to open file. (CreateFileMapping)";
    const struct {
        std::string path;
        std::vector<std::string> texts;
        bool ok = false;
        bool cancelled = false;
    } cases[] = {
        {dir.Write("f.bin", bytes), {"Encoding Attachment..."}, true},
        {dir.Path("missing"), {open}},
        {fifo, {open}},  // a FIFO never blocks
        {dir.Write("empty", ""), {"Unable to Encode file"}},
        {dir.Write("one", "1"), {"Operation Cancelled By User", "<idle>"}, false, true},
    };
    for (const auto& c : cases) {
        TestMailOperation t;
        if (c.cancelled)
            t.cancel.Cancel();
        std::string message;
        EXPECT_EQ(ComposeMailMessage({"f", " To@x.test ", "s", ".a\r\nb", c.path}, t.operation, message), c.ok);
        EXPECT_EQ(t.Texts(), c.texts) << c.path;
        if (c.ok) {  // no NUL byte after the encoded text
            EXPECT_TRUE(message == ExpectedMailMessage("f", " To@x.test ", "s", ".a\r\nb", "f.bin", bytes));
        }
    }
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

// The wire lines of a whole message, "|" after each, then "!" when a line
// stopped it.
std::string WireLines(const std::string& message)
{
    std::string wire;
    std::optional<std::size_t> position = 0;
    while ((position = NextMessageLine(message, *position, wire)).value_or(0) > 0)
        wire += "|";
    return position ? wire : wire + "!";
}

TEST(SmtpDialogue, MessageLines)
{
    const struct {
        std::string message;
        std::string wire;
    } cases[] = {
        {std::string(998, 'a') + "\r\n", std::string(998, 'a') + "\r\n|"},
        {std::string(".").append(996, 'a'), std::string("..").append(996, 'a') + "\r\n|"},
        // A space is a whole UTF-8 character: a split never cuts a sequence.
        {std::string(990, 'a') + " \xc3\xb6" + std::string(10, 'b'), std::string(990, 'a') + " \r\n|\xc3\xb6" + std::string(10, 'b') + "\r\n|"},
        // Split after the last space not followed by another.
        {std::string(500, 'a') + "  " + std::string(600, 'b'),
         std::string(500, 'a') + "  \r\n|" + std::string(600, 'b') + "\r\n|"},
        {std::string(500, 'a') + " ." + std::string(600, 'b'),
         std::string(500, 'a') + " \r\n|.." + std::string(600, 'b') + "\r\n|"},
        {std::string(999, 'x') + " y", "!"},
        {std::string("a\r\n.").append(998, 'x'), "a\r\n|!"},  // too long once its dot is doubled
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(WireLines(c.message) == c.wire) << c.message.substr(0, 30);
        EXPECT_EQ(MessageLinesFit(c.message), !c.wire.ends_with("!"));
    }
}

TEST(SmtpDialogue, ReplyScan)
{
    const struct {
        std::string data;
        std::size_t taken;
        int code;
    } cases[] = {
        {"250\r\n", 5, 250},
        {"250-a\r\n250-b\r\n250 c\r\nNEXT", 21, 250},
        {"250-a\r\n250-b\r\n", 0, 0},
        {"22\r\n", 4, -1},
        {"2x0 no\r\n", 8, -1},
        {"250-a\r\nxyz\r\n", 12, -1},
        {"250_a\r\n", 7, -1},
    };
    for (const auto& c : cases) {
        int code = 0;
        EXPECT_EQ(ScanSmtpReply(c.data, code), c.taken) << c.data;
        EXPECT_EQ(code, c.code) << c.data;  // untouched while the reply is not whole
    }
}

TEST(SmtpDialogue, ProgressTextsAndTheirMemory)
{
    TestMailOperation t;
    const std::pair<int, std::int64_t> calls[] = {{1, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {4, 25}, {4, 25},
                                                  {4, 100}, {5, 0}, {7, -3}, {9, 0}, {6, 0}, {5, 0}};
    for (const auto& [stage, value] : calls)
        MailProgress(stage, value, t.operation);
    EXPECT_EQ(t.Texts(), (std::vector<std::string>{
                                "Preparing Connection...", "Connecting to Server..", "Communicating With Server...",
                                "Sending Message... 0% Complete", "Sending Message... 25% Complete",
                                "Sending Message... 100% Complete", "Closing Connection...", "Error Sending Mail: -3",
                                "", "Mail Sent Successfully", "<idle>"}));
    EXPECT_FALSE(MailProgress(5, 0, t.operation));  // ended

    // A new operation starts afresh; an error other than -3 ends it.
    TestMailOperation next;
    EXPECT_TRUE(MailProgress(1, 0, next.operation) && MailProgress(7, -5, next.operation));
    EXPECT_FALSE(MailProgress(7, -7, next.operation));
    EXPECT_EQ(next.Texts(), (std::vector<std::string>{"Preparing Connection...", "Error Sending Mail: -5", "<idle>"}));
}

}  // namespace
