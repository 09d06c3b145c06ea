#include <sys/stat.h>

#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"
#include "support/MailTestSink.h"
#include "support/TempFiles.h"

namespace {

using namespace std::string_literals;

// The layout is compared byte for byte after delivery (peers); here how the attachment is read or fails.
TEST(MimeMessage, Attachments)
{
    TempFiles dir("mail-unit");
    const std::string bytes = RandomBytes(3'000'001, 1);  // read in pieces, the last line short
    mkfifo(dir.Path("fifo").c_str(), 0600);
    const std::string open = "Unable to open file. (CreateFileMapping)", encoding = "Encoding Attachment...";
    const std::pair<std::string, std::vector<std::string>> cases[] = {  // a FIFO never blocks; "one" is cancelled
        {dir.Write("f.bin", bytes), {encoding}}, {dir.Path("missing"), {open}}, {dir.Path("fifo"), {open}},
        {dir.Write("empty", ""), {"Unable to Encode file"}}, {dir.Write("one", "1"), {"Operation Cancelled By User", "<idle>"}}};
    for (const auto& [path, texts] : cases) {
        TestMailOperation t;
        std::string message;
        if (texts.size() > 1) t.cancel.Cancel();
        EXPECT_EQ(ComposeMailMessage({"f", "t", "s", ".a\r\nb", path}, t.operation, message), texts[0] == encoding);
        EXPECT_EQ(t.Texts(), texts) << path;  // and no NUL byte after the encoded text:
        EXPECT_TRUE(texts[0] != encoding || message == ExpectedMailMessage("f", "t", "s", ".a\r\nb", "f.bin", bytes));
    }
}

TEST(MimeMessage, FileNamesAndFieldChecks)
{
    const std::pair<std::string, std::string> names[] = {
        {"/a/b\\c \"d\".txt", "b\\\\c \\\"d\\\".txt"}, {"/x/tab\there\x7f", "tab_here_"}, {"/dir/", ""}};
    for (const auto& [path, name] : names)
        EXPECT_EQ(AttachmentFileName(path), name) << path;
    const std::pair<MailFields, const char*> cases[] = {
        {{"f\n", "a@b", "s", "", ""}, "The From field must not hold a line break."},
        {{"f", "a@b\0"s, "s", "", ""}, "The To field must not hold a line break."},
        {{std::string(991, 'f'), std::string(993, 't'), std::string(988, 's'), "", ""}, ""},
        {{std::string(992, 'f'), "a@b", "", "", ""}, "The From field is too long (at most 991 bytes)."},
        {{"", std::string(994, 't'), "", "", ""}, "The To field is too long (at most 993 bytes)."},
        {{"", "a@b", std::string(989, 's'), "", ""}, "The Subject field is too long (at most 988 bytes)."},
        {{"", "a@b", "", "", "/x/" + std::string(207, '"')}, "The File Attachment name is too long (at most 413 bytes)."},
    };
    for (const auto& [fields, problem] : cases)
        EXPECT_EQ(MailFieldProblem(fields), problem) << fields.subject.substr(0, 20);
}

// The wire lines of a message, "|" after each, "!" when a line stopped it.
TEST(SmtpDialogue, MessageLines)
{
    const std::string a500(500, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {std::string(998, 'a') + "\r\n", std::string(998, 'a') + "\r\n|"},
        {"." + std::string(996, 'a'), ".." + std::string(996, 'a') + "\r\n|"},
        // A space is a whole UTF-8 character: a split never cuts a sequence.
        {std::string(990, 'a') + " \xc3\xb6" + std::string(9, 'b'), std::string(990, 'a') + " \r\n|\xc3\xb6" + std::string(9, 'b') + "\r\n|"},
        // Split after the last space not followed by another.
        {a500 + " " + std::string(496, 'a') + "  b", a500 + " \r\n|" + std::string(496, 'a') + "  b\r\n|"},
        {std::string(995, 'a') + " From x", std::string(995, 'a') + " \r\n| From x\r\n|"},  // stuffed as flowed text
        {a500 + " ." + std::string(600, 'b'), a500 + " \r\n|.." + std::string(600, 'b') + "\r\n|"},
        {std::string(999, 'x') + " y", "!"},
        {"a\r\n." + std::string(998, 'x'), "a\r\n|!"},  // too long once its dot is doubled
    };
    for (const auto& [message, wire] : cases) {
        std::string lines;
        std::optional<std::size_t> at = 0;
        while ((at = NextMessageLine(message, *at, lines)).value_or(0) > 0)
            lines += "|";
        EXPECT_TRUE((at ? lines : lines + "!") == wire) << message.substr(0, 30);
        EXPECT_EQ(MessageLinesFit(message), !wire.ends_with("!"));
    }
}

TEST(SmtpDialogue, ReplyScan)
{
    const std::tuple<std::string, std::size_t, int> cases[] = {
        {"250-a\r\n250-b\r\n250 c\r\nNEXT", 21, 250}, {"250-a\r\n250-b\r\n", 0, 0}, {"22\r\n", 4, -1},
        {"2x0 no\r\n", 8, -1}, {"250-a\r\nxyz\r\n", 12, -1}, {"250_a\r\n", 7, -1}, {"250\r\n", 5, 250},
    };
    for (const auto& [data, taken, expected] : cases) {
        int code = 0;  // untouched while the reply is not whole
        EXPECT_EQ((std::pair{ScanSmtpReply(data, code), code}), std::pair(taken, expected)) << data;  // braces: the scan first
    }
}

}  // namespace
