#pragma once

#include <QString>

#include "platform/IcmpEchoSocket.h"

class ToolPage;

// The one-time message box that says what Ping and Traceroute lack and the
// exact command that grants it. Shown at most once per run, by whichever page
// meets the failure first; nothing for IcmpOpenFailure::None. Called on the
// user-interface thread, it shows the box from the event loop a moment later,
// so that the task that met the failure ends (and its caption returns) first.
void PostIcmpPrivilegeHint(ToolPage* page, IcmpOpenFailure failure);

// The hint's text for a failure.
QString IcmpPrivilegeHintText(IcmpOpenFailure failure);

// Tests start over with this.
void ResetIcmpPrivilegeHint();
