#pragma once

#include <optional>
#include <string>

#include "ui/ToolPage.h"
#include "whois/WhoisQuery.h"

class QCheckBox;
class QComboBox;

// The Whois page: a domain name or an IPv4 or IPv6 address asked of a whois server,
// the answer shown as the server sent it.
class WhoisPage : public ToolPage {
    Q_OBJECT
public:
    explicit WhoisPage(QWidget* parent = nullptr);

    bool OpenTarget(const HostTarget& target) override;
    bool Busy() const override;

private:
    void OnQueryButton();
    void RunQuery(const WhoisRequest& request, TaskContext& context);

    QComboBox* queryBox_;
    QPushButton* queryButton_;
    QCheckBox* chooseServer_;
    QComboBox* serverBox_;
};
