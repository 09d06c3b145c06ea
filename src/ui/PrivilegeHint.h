#pragma once

#include <QString>

#include "privilege/NetcapClient.h"

class ToolPage;

// The group whose members may run the privilege helper, and how to join it.
inline constexpr char kHelperGroup[] = "quorlix";
inline constexpr char kJoinHelperGroup[] = "sudo usermod -aG quorlix $USER";

// The one-time message box that says what an operation lacks, the group that
// grants it and the exact command to join it. Shown at most once per run and
// operation, by whichever page meets the failure first; nothing for
// PrivilegeFailure::None. Called on the user-interface thread, it shows the
// box from the event loop a moment later, so that the task that met the
// failure ends (and its caption returns) first.
void PostPrivilegeHint(ToolPage* page, PrivilegedOperation operation, PrivilegeFailure failure);

// The hint's text.
QString PrivilegeHintText(PrivilegedOperation operation, PrivilegeFailure failure);

// Tests start over with this.
void ResetPrivilegeHints();
