#pragma once

#include <QDialog>
#include <string>

// The small modal dialog in which the user types a text for the peer. OK
// copies the whole text, line breaks as CR LF, into the caller's text; Cancel
// leaves it as it was. The edit starts empty each time.
class SendTextDialog : public QDialog {
    Q_OBJECT
public:
    SendTextDialog(std::string& text, QWidget* parent);

    // True when the user pressed OK; text then holds what was typed.
    static bool Show(std::string& text, QWidget* parent);

    void accept() override;  // OnOK

private:
    std::string& text_;
};
