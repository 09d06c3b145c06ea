#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

MessageHook& Hook()
{
    static MessageHook hook;
    return hook;
}

}  // namespace

void SetMessageHook(MessageHook hook)
{
    Hook() = std::move(hook);
}

bool ShowMessage(QWidget* owner, const QString& text, MessageKind kind, const QString& detail)
{
    if (Hook())
        return Hook()(owner, text, kind, detail);

    QMessageBox box(owner);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(text);
    box.setInformativeText(detail);
    switch (kind) {
    case MessageKind::Failure: box.setIcon(QMessageBox::Critical); break;
    case MessageKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageKind::Notice: box.setIcon(QMessageBox::Information); break;
    case MessageKind::Confirm: box.setIcon(QMessageBox::Question); break;
    case MessageKind::Plain: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (kind == MessageKind::Confirm) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int answer = box.exec();
    return kind == MessageKind::Confirm ? answer == QMessageBox::Yes : true;
}
