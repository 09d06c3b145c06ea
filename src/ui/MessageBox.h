#pragma once

#include <QString>
#include <functional>

class QWidget;

// The kinds of message box, each with its icon and buttons.
enum class MessageKind {
    Failure,  // stop icon, OK
    Warning,  // exclamation icon, OK: bad input or a missing precondition
    Notice,   // information icon, OK: another operation of the page is running
    Confirm,  // question icon, Yes/No with No as default
    Plain,    // no icon, OK
};

// Shows a modal message box owned by owner, captioned with the application's
// display name (the executable's file name), with detail (if any) as its
// informative text under the message. True when the answer was Yes (Confirm)
// or OK (the others).
bool ShowMessage(QWidget* owner, const QString& text, MessageKind kind, const QString& detail = QString());

// Tests see the messages instead of a modal box; a null hook restores the box.
using MessageHook =
    std::function<bool(QWidget* owner, const QString& text, MessageKind kind, const QString& detail)>;
void SetMessageHook(MessageHook hook);
