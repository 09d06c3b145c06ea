#pragma once

#include "app/ToolPage.h"

// One echo to a host: its round-trip time, or "Ping Failed!".
class PingPage : public ToolPage {
    Q_OBJECT
public:
    explicit PingPage(QWidget* parent = nullptr);

    static constexpr int kHostBox = 1011;
    static constexpr int kQueryButton = 1004;

private:
    void OnQueryButton();
};
