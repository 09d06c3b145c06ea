// One mail with a 20 MiB attachment, composed and sent by the engine to the
// sink named by QUORLIX_MAIL_SINK (address, port 25), as the page sends it.
#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "mail/MailOperation.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpDialogue.h"

namespace {

class QuietSink : public MailSink {
public:
    void ShowStatus(std::string_view text) override { last = text; }
    void SetIdle() override {}
    std::string last;
};

std::string AttachmentFile()
{
    const char* path = std::getenv("QUORLIX_MAIL_FILE");
    return path ? path : "/tmp/quorlix-mail-bench.bin";
}

void BM_SendMail20MiB(benchmark::State& state)
{
    const char* sink = std::getenv("QUORLIX_MAIL_SINK");
    in_addr address{};
    if (!sink || inet_pton(AF_INET, sink, &address) != 1) {
        state.SkipWithError("QUORLIX_MAIL_SINK names no IPv4 address");
        return;
    }
    const MailFields fields{"bench <x@bench.test>", "x@bench.test", "twenty MiB", "The attachment.\r\n", AttachmentFile()};
    for (auto _ : state) {
        QuietSink status;
        CancelToken cancel, close;
        MailOperation operation(status, cancel, close);
        std::string message;
        if (!ComposeMailMessage(fields, operation, message)) {
            state.SkipWithError(status.last.c_str());
            return;
        }
        if (SmtpSendMail(IpAddress::V4(address.s_addr), kSmtpPort, fields.to, fields.to, message, MailProgress, operation) !=
            SmtpResult::Sent) {
            state.SkipWithError(status.last.c_str());
            return;
        }
        state.SetBytesProcessed(state.bytes_processed() + std::int64_t(message.size()));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_SendMail20MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
