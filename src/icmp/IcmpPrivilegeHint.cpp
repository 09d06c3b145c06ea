#include "icmp/IcmpPrivilegeHint.h"

#include <QMetaObject>
#include <atomic>

#include "app/ToolPage.h"
#include "netcap/NetcapClient.h"

namespace {

std::atomic<bool> g_hintShown{false};

}  // namespace

QString IcmpPrivilegeHintText(IcmpOpenFailure failure)
{
    const QString helper = QString::fromStdString(NetcapHelperPath());
    QString why;
    switch (failure) {
    case IcmpOpenFailure::None:
        return {};
    case IcmpOpenFailure::HelperMissing:
        why = QStringLiteral("the helper quorlix-netcap is not at %1.").arg(helper);
        break;
    case IcmpOpenFailure::HelperRefused:
        why = QStringLiteral("the helper %1 lacks the cap_net_raw capability.").arg(helper);
        break;
    case IcmpOpenFailure::HelperFailed:
        why = QStringLiteral("the helper %1 did not answer.").arg(helper);
        break;
    }
    return QStringLiteral(
               "Ping and Traceroute need an ICMP socket. This system allows no unprivileged one "
               "(net.ipv4.ping_group_range), the program holds no cap_net_raw, and %1\n\n"
               "Grant the helper its capabilities once with:\n\n"
               "sudo setcap cap_net_raw,cap_net_admin+ep %2")
        .arg(why, helper);
}

void PostIcmpPrivilegeHint(ToolPage* page, IcmpOpenFailure failure)
{
    if (failure == IcmpOpenFailure::None || g_hintShown.exchange(true))
        return;
    QMetaObject::invokeMethod(
        page, [page, failure] { page->Message(IcmpPrivilegeHintText(failure), MessageKind::Warning); },
        Qt::QueuedConnection);
}

void ResetIcmpPrivilegeHint()
{
    g_hintShown = false;
}
