#include "hostinfo/NetInfoPage.h"

#include <QComboBox>
#include <QScrollBar>

#include "hostinfo/NetInfoReports.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

using namespace NetInfoControls;

NetInfoPage::NetInfoPage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    auto* box = Item<QComboBox>(kReportBox);
    // On Linux a combo box reaches screen readers by its current text; the
    // description carries what it is.
    box->setAccessibleDescription(box->accessibleName());
    box->setCurrentIndex(0);
    // activated: the user's choice only, so setting the first item above does
    // not build a report of its own.
    connect(box, &QComboBox::activated, this, &NetInfoPage::OnReportChosen);
    ShowIpConfiguration();
}

void NetInfoPage::OnReportChosen(int item)
{
    switch (item) {
    case 0: ShowIpConfiguration(); break;
    case 1: ShowAdapterInformation(); break;
    case 2: ShowPortServices(); break;
    default: break;
    }
}

void NetInfoPage::ShowIpConfiguration()
{
    ShowReport(IpConfigurationReport());
}

void NetInfoPage::ShowAdapterInformation()
{
    ShowReport(AdapterInformationReport());
}

void NetInfoPage::ShowPortServices()
{
    ShowReport(PortServicesReport());
}

void NetInfoPage::ShowReport(const NetInfoReport& report)
{
    Pane()->SetCommandLine(report.commandLine);
    ClearOutput();
    AppendOutput(report.text);
    if (!report.complete)
        return;
    Pane()->verticalScrollBar()->setValue(Pane()->verticalScrollBar()->minimum());
    // The first report is built while the page is still hidden: it must not
    // take the focus from the page the user sees.
    if (Pane()->isVisible())
        Pane()->setFocus();
}
