#include "support/GuiTest.h"

#include <QAbstractButton>
#include <QAccessible>

#include "ui/OutputPane.h"
#include "ui/ToolPage.h"

DialogTemplate TemplateFromText(const char* text)
{
    std::string error;
    auto dlg = ParseDialogTemplate(text, &error);
    if (!dlg)
        qFatal("%s", error.c_str());
    return *dlg;
}

bool ShowExposed(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowExposed(window);
}

bool WaitForCaption(QAbstractButton* button, const QString& caption, int timeoutMs)
{
    return QTest::qWaitFor([&] { return button->text() == caption; }, timeoutMs);
}

MessageRecorder::MessageRecorder(bool answer) : MessageRecorder([answer](const QString&) { return answer; }) {}

MessageRecorder::MessageRecorder(std::function<bool(const QString&)> answer)
{
    SetMessageHook([this, answer = std::move(answer)](QWidget*, const QString& text, auto kind, const auto& detail) {
        messages_.push_back({text, kind, detail});
        return answer(text);
    });
}

MessageRecorder::~MessageRecorder() { SetMessageHook(nullptr); }

QStringList MessageRecorder::Texts() const
{
    QStringList texts;
    for (const auto& m : messages_)
        texts << m.text;
    return texts;
}

std::string PaneText(const ToolPage* page) { return page->Pane() ? page->Pane()->RawText() : std::string(); }

QString AccessibleName(QWidget* widget)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
    return a ? a->text(QAccessible::Name) : QString();
}

QStringList ComboItems(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}
