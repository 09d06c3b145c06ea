#pragma once

#include "ui/ToolPage.h"

struct NetInfoReport;

// Shows one of three reports about this host, chosen in the report box: the
// IP configuration (shown at start), the adapters, or the port services.
// Each report replaces the pane's text and is built at once on this thread.
class NetInfoPage : public ToolPage {
    Q_OBJECT
public:
    explicit NetInfoPage(QWidget* parent);

    void ShowIpConfiguration();
    void ShowAdapterInformation();
    void ShowPortServices();

private:
    void OnReportChosen(int item);
    // A complete report is shown from its top with the keyboard focus in the
    // pane; one that stopped at its failure line is left as it ends.
    void ShowReport(const NetInfoReport& report);
};
