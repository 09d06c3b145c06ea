#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureLoop.h"
#include "capture/PcapngWriter.h"
#include "privilege/NetcapClient.h"
#include "ui/ToolPage.h"

// The Packet Capture page: START opens a capture of the interface that owns
// the chosen local address and prints the packets that pass its filters into
// the pane, until STOP, a receive error or a full pane.
class CapturePage : public ToolPage {
    Q_OBJECT
public:
    explicit CapturePage(QWidget* parent);

    // Opens a capture of one interface, narrowed by the kernel to what
    // settings could keep: directly with CAP_NET_RAW, else through the
    // privilege helper, whose start the token cuts short. Null when it cannot
    // be opened, with failure saying what privilege was missing (None: the
    // interface or socket failed). Runs on the capture's thread; tests
    // replace it.
    using OpenCaptureFn = std::unique_ptr<CaptureFrameSource> (*)(const std::string& interface,
                                                                  const CaptureSettings& settings,
                                                                  const CancelToken& token,
                                                                  PrivilegeFailure& failure);
    static OpenCaptureFn openCapture;
    // Asks where to save the capture (a save dialog for *.pcapng files);
    // empty when cancelled. Tests replace it.
    using ChooseFileFn = QString (*)(QWidget* parent);
    static ChooseFileFn chooseSaveFile;
    // The file the next capture writes, empty for none.
    const QString& SavePath() const { return savePath_; }

    bool Capturing() const { return capturing_; }
    // Packets the kernel dropped during the current or last capture.
    std::uint64_t Drops() const { return drops_; }

private:
    void OnStartStop();
    void OnClearOutput();
    void Start();
    void SetCapturing(bool capturing);
    // The running capture's text, on the user-interface thread.
    void AppendTaskOutput(const std::string& text) override;
    void ShowDrops(std::uint64_t drops);
    bool PaneFull() const;
    // The pane reached its limit: always queued, so it may find the capture
    // already stopped or the pane cleared.
    void FullPaneStop();

    // Save To File: chooses the file, or clears the one chosen.
    void OnSaveToFile();
    void ShowSavePath();
    // Opens the chosen file for a capture; null when there is none, or with
    // failed set after telling the user why it cannot be created.
    std::shared_ptr<PcapngWriter> OpenSaveFile(const std::string& interface, int run, bool& failed);
    // The file of capture run failed with error: that capture stops.
    void SaveFileFailed(int run, int error);

    QString savePath_;
    std::weak_ptr<PcapngWriter> lastFile_;  // the last capture's, until it is closed
    int captureRun_ = 0;  // counts the captures started
    bool capturing_ = false;
    std::uint64_t drops_ = 0;
    std::weak_ptr<WorkerTask> capture_;  // the running capture, in the page's task list
};
