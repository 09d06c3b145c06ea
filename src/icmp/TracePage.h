#pragma once

#include "app/ToolPage.h"

// The routers on the way to a host, one echo per time-to-live.
class TracePage : public ToolPage {
    Q_OBJECT
public:
    explicit TracePage(QWidget* parent = nullptr);

    static constexpr int kHostBox = 1011;
    static constexpr int kQueryButton = 1004;

private:
    void OnQueryButton();
};
