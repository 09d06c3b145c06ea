#pragma once

// What the tests that drive pages share: the controls they press and read, QTest, the template ids.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "templates/ControlIds.h"  // the pages' control ids, for the tests that drive them
#include "ui/DialogTemplate.h"
#include "ui/MessageBox.h"

class QAbstractButton;
class QComboBox;
class QWidget;
class ToolPage;

// A template written inline in a test; a template that does not parse ends the test program.
DialogTemplate TemplateFromText(const char* text);

// Shows and activates a window, and waits until it is exposed.
bool ShowExposed(QWidget* window);

// Waits, with the event loop running, until button's caption reads caption.
bool WaitForCaption(QAbstractButton* button, const QString& caption, int timeoutMs = 10000);

// Records the message boxes shown while it lives, instead of showing them,
// and answers each as answer(text) says (it may act on the page meanwhile).
class MessageRecorder {
public:
    struct Entry { QString text; MessageKind kind; QString detail; };  // detail: the informative text under it
    explicit MessageRecorder(bool answer = true);
    explicit MessageRecorder(std::function<bool(const QString&)> answer);
    ~MessageRecorder();
    const std::vector<Entry>& Messages() const { return messages_; }
    QStringList Texts() const;

private:
    std::vector<Entry> messages_;
};

// The pane's text as the page wrote it (CR LF line ends).
std::string PaneText(const ToolPage* page);

// What a screen reader reads as the widget's name.
QString AccessibleName(QWidget* widget);

// A combo box's items, in order.
QStringList ComboItems(const QComboBox* combo);
