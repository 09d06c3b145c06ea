#include "ui/DialogBuilder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "ui/OutputPane.h"

namespace {

// a * b / c rounded to the nearest integer, halves away from zero; the
// product is taken in 64 bits so that it cannot overflow.
int ScaleRounded(int a, int b, int c)
{
    long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : (n - c / 2) / c);
}

QString Text(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// "&Host:" -> "Host"
QString NameFromCaption(const std::string& caption)
{
    QString name = Text(caption);
    name.remove(QLatin1Char('&'));
    name = name.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed();
}

Qt::Alignment Alignment(const ControlStyle& s)
{
    switch (s.align) {
    case 1: return Qt::AlignHCenter;
    case 2: return Qt::AlignRight;
    default: return Qt::AlignLeft;
    }
}

QPixmap Picture(const std::string& caption)
{
    // "icon:128" or "bitmap:148" name a picture among the resources.
    QString name = Text(caption);
    name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return QPixmap(QStringLiteral(":/images/%1.png").arg(name));
}

bool IsButton(const ControlTemplate& c)
{
    return c.kind == ControlKind::Button || c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio;
}

QWidget* MakeControl(const ControlTemplate& c, QWidget* parent)
{
    const ControlStyle& s = c.style;
    switch (c.kind) {
    case ControlKind::GroupBox: {
        // A frame only: the page's group box covers the whole page, and a
        // control sent below it in the stacking order must still get the mouse.
        auto* box = new QGroupBox(Text(c.caption), parent);
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        return box;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(Text(c.caption), parent);
        label->setAlignment(Alignment(s) | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);  // a status line may show what the user typed
        label->setWordWrap(!s.noWrap);
        if (s.sunken || s.clientEdge || s.border)
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return label;
    }
    case ControlKind::Picture: {
        auto* label = new QLabel(parent);
        label->setPixmap(Picture(c.caption));
        label->setAlignment(Qt::AlignCenter);
        return label;
    }
    case ControlKind::Button:
    case ControlKind::CheckBox:
    case ControlKind::Radio: {
        QAbstractButton* b;
        if (c.kind == ControlKind::Button || s.pushLike) {
            auto* push = new QPushButton(Text(c.caption), parent);
            push->setDefault(s.defaultButton);
            push->setCheckable(c.kind != ControlKind::Button);
            if (s.pushLike)
                push->setAutoDefault(false);
            b = push;
        } else if (c.kind == ControlKind::CheckBox) {
            b = new QCheckBox(Text(c.caption), parent);
        } else {
            b = new QRadioButton(Text(c.caption), parent);
        }
        b->setAutoExclusive(c.kind == ControlKind::Radio);
        b->setChecked(s.checked);
        return b;
    }
    case ControlKind::Edit: {
        if (s.multiline && !s.pane) {
            // Text the user writes (a message, lines to send): it wraps and keeps undo.
            auto* edit = new QPlainTextEdit(parent);
            edit->setLineWrapMode(s.autoHScroll ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
            edit->setReadOnly(s.readOnly);
            edit->setVerticalScrollBarPolicy(s.vscroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
            edit->setPlainText(Text(c.caption));
            return edit;
        }
        if (s.multiline) {
            auto* pane = new OutputPane(parent);
            pane->setReadOnly(s.readOnly);
            if (s.readOnly)  // keyboard users still move the caret onto a line
                pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            pane->setVerticalScrollBarPolicy(s.vscroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
            pane->setHorizontalScrollBarPolicy(s.hscroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
            pane->setTabChangesFocus(!s.wantReturn && s.readOnly);
            if (s.textLimit)
                pane->SetTextLimit(size_t(s.textLimit));
            return pane;
        }
        auto* edit = new QLineEdit(Text(c.caption), parent);
        edit->setReadOnly(s.readOnly);
        edit->setAlignment(Alignment(s));
        if (s.textLimit)
            edit->setMaxLength(s.textLimit);
        if (s.digitsOnly)
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        if (s.password)
            edit->setEchoMode(QLineEdit::Password);
        edit->setFrame(true);
        return edit;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(!s.dropDownList);
        combo->setInsertPolicy(QComboBox::NoInsert);  // the pages keep their own history
        if (combo->isEditable()) {
            combo->setDuplicatesEnabled(true);
            // What was typed is what is used: a history entry differing only in
            // letter case is neither completed into the box nor swapped in for it.
            combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
            combo->lineEdit()->setText(Text(c.caption));
            if (s.textLimit)
                combo->lineEdit()->setMaxLength(s.textLimit);
        }
        combo->setProperty("sorted", s.sorted);
        for (const auto& item : c.items)
            AddComboItem(combo, Text(item));
        return combo;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget(parent);
        for (const auto& item : c.items)
            list->addItem(Text(item));
        list->setSortingEnabled(s.sorted);
        return list;
    }
    }
    return nullptr;
}

}  // namespace

int AddComboItem(QComboBox* combo, const QString& text)
{
    int at = combo->count();
    if (combo->property("sorted").toBool()) {
        // A sorted list orders without regard to letter case; equal texts keep their order.
        at = 0;
        while (at < combo->count() && QString::compare(combo->itemText(at), text, Qt::CaseInsensitive) <= 0)
            ++at;
    }
    combo->insertItem(at, text);
    return at;
}

DialogUnits DialogBaseUnits(const QFont& font)
{
    QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, fm.height()};
}

QRect DialogToPixels(const DialogUnits& u, int x, int y, int w, int h)
{
    return QRect(ScaleRounded(x, u.cx, 4), ScaleRounded(y, u.cy, 8), ScaleRounded(w, u.cx, 4),
                 ScaleRounded(h, u.cy, 8));
}

BuiltDialog BuildDialog(const DialogTemplate& dlg, QWidget* parent)
{
    BuiltDialog built;
    const DialogUnits units = DialogBaseUnits(parent->font());
    built.size = DialogToPixels(units, 0, 0, dlg.w, dlg.h).size();
    QString pageName = NameFromCaption(dlg.title);
    QString lastLabel;  // edits and combo boxes are named by the label before them

    for (const ControlTemplate& c : dlg.controls) {
        QWidget* w = MakeControl(c, parent);
        QRect r = DialogToPixels(units, c.x, c.y, c.w, c.h);
        if (c.kind == ControlKind::ComboBox)
            r.setHeight(w->sizeHint().height());  // the template gives the height of the open list
        w->setGeometry(r);
        w->setEnabled(!c.style.disabled);
        w->setVisible(!c.style.hidden);

        QString name;
        if (c.kind == ControlKind::Label && !c.accessibleName.empty()) {
            // A status line: the reader reads its text, which the program
            // changes (and Qt announces while no fixed name hides it).
            w->setAccessibleDescription(Text(c.accessibleName));
        } else if (IsButton(c) && c.accessibleName.empty()) {
            // A button's name is its caption, also once the page changes it
            // (QUERY reads "STOP" while its task runs).
        } else if (!c.accessibleName.empty())
            name = Text(c.accessibleName);
        else if (c.style.pane)
            name = pageName + QStringLiteral(" output");
        else if (c.kind == ControlKind::Edit || c.kind == ControlKind::ComboBox || c.kind == ControlKind::ListBox)
            name = lastLabel;
        else if (c.kind == ControlKind::Picture)
            name = pageName + QStringLiteral(" picture");
        else
            name = NameFromCaption(c.caption);
        if (!name.isEmpty())
            w->setAccessibleName(name);
        if (c.kind == ControlKind::Label || c.kind == ControlKind::GroupBox)
            lastLabel = NameFromCaption(c.caption);

        if (c.id != -1) {
            w->setObjectName(QString::number(c.id));
            built.items.insert(c.id, w);
        }
        if (c.style.defaultButton && !built.defaultButton)
            built.defaultButton = qobject_cast<QPushButton*>(w);
        if (c.style.pane && !built.pane)
            built.pane = qobject_cast<OutputPane*>(w);
    }
    return built;
}

const DialogTemplate& LoadDialogTemplate(int id)
{
    static QMutex mutex;
    static QMap<int, DialogTemplate> cache;
    QMutexLocker lock(&mutex);
    if (auto it = cache.find(id); it != cache.end())
        return *it;

    QFile file(QStringLiteral(":/templates/%1.dlg").arg(id));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("dialog template %d is not among the resources", id);
    const QByteArray text = file.readAll();
    std::string error;
    auto dlg = ParseDialogTemplate(std::string_view(text.constData(), size_t(text.size())), &error);
    if (!dlg)
        qFatal("dialog template %d: %s", id, error.c_str());
    return *cache.insert(id, std::move(*dlg));
}
