#include "tcpterm/SendTextDialog.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "tcpterm/TerminalText.h"
#include "templates/ControlIds.h"
#include "ui/DialogBuilder.h"

using namespace SendTextControls;

SendTextDialog::SendTextDialog(std::string& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      text_(text)
{
    const DialogTemplate& dlg = LoadDialogTemplate(kTemplate);
    BuiltDialog built = BuildDialog(dlg, this);
    setWindowTitle(QString::fromStdString(dlg.title));
    setFixedSize(built.size);
    setModal(true);
    if (auto* ok = qobject_cast<QPushButton*>(built.items.value(kOkButton)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    if (auto* cancel = qobject_cast<QPushButton*>(built.items.value(kCancelButton)))
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(built.items.value(kTextBox))) {
        edit->setTabChangesFocus(true);  // as in any dialog, Tab reaches OK and Cancel; Enter stays a new line
        edit->setFocus();
    }
}

void SendTextDialog::accept()
{
    if (auto* edit = findChild<QPlainTextEdit*>(QString::number(kTextBox))) {
        const QByteArray typed = edit->toPlainText().toUtf8();
        text_ = WithCrLf(std::string_view(typed.constData(), size_t(typed.size())));
    }
    QDialog::accept();
}

bool SendTextDialog::Show(std::string& text, QWidget* parent)
{
    SendTextDialog dialog(text, parent);
    return dialog.exec() == QDialog::Accepted;
}
