// The live half of capture.sh, one program in two roles, each run inside a
// network namespace by the script:
//   capture_live send ADDRESS PORT RATE SECONDS SIZE
//       UDP datagrams of SIZE bytes to ADDRESS:PORT at RATE a second
//   capture_live capture ADDRESS PORT SECONDS [FILE FORMAT]
//       the Packet Capture page (offscreen) capturing on the interface of
//       ADDRESS, port PORT, Data view (or the view FORMAT: 0 Data, 1 Text,
//       2 None, then without the packet lines) for SECONDS, saving to FILE;
//       the pane is emptied whenever it passes 200,000 characters, as a user
//       would, well before a few hand-overs could fill it.
//       Prints "printed N drops D stall_ms S timer_ms T": packets printed,
//       packets the kernel dropped, the longest wait of an event posted to the
//       window's thread (as keys and clicks reach it), and the longest gap
//       between two ticks of a 1 ms timer (which Qt runs only when the loop has
//       nothing else to do once one has fired, so it also counts the turns
//       that carried output in a row).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "WindowWait.h"
#include "capture/CapturePage.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

namespace {

int Send(const char* address, int port, int rate, int seconds, int size)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(port));
    to.sin_addr.s_addr = inet_addr(address);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return 1;
    std::vector<char> payload(std::size_t(size), 'q');
    // Sent in slices of a millisecond, each slice's share at once.
    constexpr int kBatch = 64;
    std::vector<iovec> iov(kBatch, iovec{payload.data(), payload.size()});
    std::vector<mmsghdr> messages(kBatch);
    for (int i = 0; i < kBatch; ++i)
        messages[std::size_t(i)].msg_hdr = {nullptr, 0, &iov[std::size_t(i)], 1, nullptr, 0, 0};
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    long long sent = 0;
    for (auto now = start; now < end; now = Clock::now()) {
        const long long due = rate * std::chrono::duration_cast<std::chrono::microseconds>(now - start).count() / 1000000;
        while (sent < due) {
            const int n = sendmmsg(fd, messages.data(), unsigned(std::min<long long>(kBatch, due - sent)), 0);
            if (n <= 0)
                break;
            sent += n;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::printf("sent %lld\n", sent);
    close(fd);
    return 0;
}

QString g_benchFile;

int Capture(int argc, char** argv, const char* address, int port, int seconds, const char* file, int format)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CapturePage page(nullptr);
    page.show();
    auto* list = page.Item<QComboBox>(CaptureControls::kAddressList);
    list->setCurrentIndex(list->findText(QString::fromLatin1(address)));
    page.Item<QLineEdit>(CaptureControls::kPortBox)->setText(QString::number(port));
    page.Item<QComboBox>(CaptureControls::kFormatList)->setCurrentIndex(format);
    page.Item<QCheckBox>(CaptureControls::kPacketInfoBox)->setChecked(format != 2);  // None: the file is what counts
    if (file) {
        g_benchFile = QString::fromLocal8Bit(file);
        CapturePage::chooseSaveFile = [](QWidget*) { return g_benchFile; };
        page.Item<QPushButton>(CaptureControls::kSaveButton)->click();
    }
    page.Item<QPushButton>(CaptureControls::kStartButton)->click();
    if (!page.Capturing()) {
        std::printf("printed 0 drops 0 stall_ms 0 (the capture could not be opened)\n");
        return 1;
    }
    long long printed = 0;
    qint64 stall = 0;
    QElapsedTimer tick;
    tick.start();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        stall = std::max(stall, tick.restart());
        const std::string& text = page.Pane()->RawText();
        if (text.size() > 200000) {
            const std::size_t at = text.rfind("PACKET No: ");
            printed = at == std::string::npos ? printed : std::atoll(text.c_str() + at + 11);
            page.Item<QPushButton>(CaptureControls::kClearButton)->click();
        }
    });
    timer.start(1);
    WindowWaitProbe waits(&app);
    bool early = false;
    QTimer::singleShot(seconds * 1000, &app, [&] {
        early = !page.Capturing();
        if (!early)
            page.Item<QPushButton>(CaptureControls::kStartButton)->click();  // STOP: the file is finished
        app.quit();
    });
    app.exec();
    const std::string& text = page.Pane()->RawText();
    const std::size_t at = text.rfind("PACKET No: ");
    if (at != std::string::npos)
        printed = std::atoll(text.c_str() + at + 11);
    std::printf("printed %lld drops %llu stall_ms %lld timer_ms %lld%s\n", printed,
                static_cast<unsigned long long>(page.Drops()), static_cast<long long>(waits.LongestMs()),
                static_cast<long long>(stall), early ? " (the capture stopped early)" : "");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && std::strcmp(argv[1], "send") == 0)
        return Send(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    if ((argc == 5 || argc == 7) && std::strcmp(argv[1], "capture") == 0)
        return Capture(argc, argv, argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argc == 7 ? argv[5] : nullptr,
                       argc == 7 ? std::atoi(argv[6]) : 0);
    std::fprintf(stderr, "usage: %s send ADDRESS PORT RATE SECONDS SIZE | capture ADDRESS PORT SECONDS [FILE FORMAT]\n", argv[0]);
    return 2;
}
