#include "ui/PrivilegeHint.h"

#include <QMetaObject>
#include <array>
#include <atomic>

#include "ui/ToolPage.h"

namespace {

std::array<std::atomic<bool>, 3> g_hintShown{};

QString WhatIsNeeded(PrivilegedOperation operation)
{
    switch (operation) {
    case PrivilegedOperation::Echo:
        return QStringLiteral(
            "Ping and Traceroute need an ICMP socket. This system allows no unprivileged one "
            "(net.ipv4.ping_group_range) and the program holds no cap_net_raw, so they ask the privilege "
            "helper, but ");
    case PrivilegedOperation::Capture:
        return QStringLiteral(
            "Packet Capture needs a packet socket (cap_net_raw). The program holds no such privilege, so it "
            "asks the privilege helper, but ");
    case PrivilegedOperation::Kill:
        return QStringLiteral(
            "Killing a connection needs cap_net_admin. The program holds no such privilege, so it asks the "
            "privilege helper, but ");
    }
    return {};
}

// How an administrator puts the helper in place: the package installs its own,
// a build from source gets a copy in a directory only root can write.
QString SetUpAdvice(const QString& helper)
{
    if (helper.startsWith(QLatin1String("/usr/local/")))
        return QStringLiteral(
            "An administrator installs it from the source folder with:\n\n"
            "sudo scripts/setup-helper.sh build/release/src/quorlix-netcap");
    return QStringLiteral("An administrator installs it again with:\n\nsudo apt install --reinstall quorlix");
}

}  // namespace

QString PrivilegeHintText(PrivilegedOperation operation, PrivilegeFailure failure)
{
    const QString helper = QString::fromStdString(NetcapHelperPath());
    QString why;
    switch (failure) {
    case PrivilegeFailure::None:
        return {};
    case PrivilegeFailure::HelperMissing:
        why = QStringLiteral("the helper quorlix-netcap is not at %1. ").arg(helper) + SetUpAdvice(helper);
        break;
    case PrivilegeFailure::HelperDenied:
        why = QStringLiteral("you may not run the helper %1: it is for the members of the group %2.")
                  .arg(helper, QLatin1String(kHelperGroup));
        break;
    case PrivilegeFailure::HelperRefused:
        why = QStringLiteral("the helper %1 lacks its capabilities. ").arg(helper) + SetUpAdvice(helper);
        break;
    case PrivilegeFailure::HelperFailed:
        why = QStringLiteral("the helper %1 did not answer.").arg(helper);
        break;
    }
    return WhatIsNeeded(operation) + why +
           QStringLiteral(
               "\n\nMembers of the group %1 may use the helper for Ping, Traceroute, Packet Capture and "
               "killing connections. Join the group with:\n\n%2\n\nthen log out and in again.")
               .arg(QLatin1String(kHelperGroup), QLatin1String(kJoinHelperGroup));
}

void PostPrivilegeHint(ToolPage* page, PrivilegedOperation operation, PrivilegeFailure failure)
{
    if (failure == PrivilegeFailure::None || g_hintShown[std::size_t(operation)].exchange(true))
        return;
    QMetaObject::invokeMethod(
        page,
        [page, operation, failure] {
            page->Message(PrivilegeHintText(operation, failure), MessageKind::Warning);
        },
        Qt::QueuedConnection);
}

void ResetPrivilegeHints()
{
    for (auto& shown : g_hintShown)
        shown = false;
}
