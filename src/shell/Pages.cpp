#include "shell/Pages.h"

#include "base64/Base64Page.h"
#include "capture/CapturePage.h"
#include "dns/DnsQueryPage.h"
#include "hostinfo/NetInfoPage.h"
#include "hostinfo/NetStatPage.h"
#include "icmp/EchoToolPage.h"
#include "mail/SmtpMailPage.h"
#include "shell/AboutPage.h"
#include "shell/HelpPage.h"
#include "tcpterm/TcpSocketPage.h"
#include "ui/ToolPage.h"
#include "whois/WhoisPage.h"

ToolPage* CreatePage(int index, QWidget* parent)
{
    switch (index) {
    case 0: return new NetStatPage(parent);
    case 1: return new WhoisPage(parent);
    case 2: return new DnsQueryPage(parent);
    case 3: return new PingPage(parent);
    case 4: return new TracePage(parent);
    case 5: return new CapturePage(parent);
    case 6: return new TcpSocketPage(parent);
    case 7: return new NetInfoPage(parent);
    case 8: return new SmtpMailPage(parent);
    case 9: return new Base64Page(parent);
    case 10: return new AboutPage(parent);
    case 11: return new HelpPage(parent);
    default: return nullptr;
    }
}
