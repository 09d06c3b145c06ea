#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

// The longest time an event posted to the window's thread waited before it
// ran, as keys and clicks reach that thread: every millisecond another thread
// posts one, stamped when sent. Read it once the event loop has ended.
class WindowWaitProbe {
public:
    explicit WindowWaitProbe(QObject* receiver)
    {
        since_.start();
        prober_ = std::thread([this, receiver] {
            while (probing_) {
                const qint64 sent = since_.nsecsElapsed();
                QMetaObject::invokeMethod(
                    receiver, [this, sent] { waited_ = std::max(waited_, since_.nsecsElapsed() - sent); },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~WindowWaitProbe() { Stop(); }

    qint64 LongestMs()
    {
        Stop();
        return waited_ / 1000000;
    }

private:
    void Stop()
    {
        probing_ = false;
        if (prober_.joinable())
            prober_.join();
    }

    QElapsedTimer since_;
    std::atomic<bool> probing_ = true;
    qint64 waited_ = 0;  // the receiver's thread only
    std::thread prober_;
};
