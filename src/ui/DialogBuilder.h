#pragma once

#include <QHash>
#include <QRect>

#include "ui/DialogTemplate.h"

class QComboBox;
class QFont;
class QString;
class QPushButton;
class QWidget;
class OutputPane;

// The dialog base units of a font: its average character width and its height,
// as the dialog manager measures them. One horizontal dialog unit is cx/4
// pixels, one vertical unit cy/8.
struct DialogUnits {
    int cx = 0;
    int cy = 0;
};

DialogUnits DialogBaseUnits(const QFont& font);
QRect DialogToPixels(const DialogUnits& units, int x, int y, int w, int h);

// The widgets built from a template, found by control id as the pages find them.
struct BuiltDialog {
    QHash<int, QWidget*> items;
    QPushButton* defaultButton = nullptr;
    OutputPane* pane = nullptr;
    QSize size;  // the dialog's own size in pixels
};

// Creates the controls of dlg as children of parent, sized from parent's font.
BuiltDialog BuildDialog(const DialogTemplate& dlg, QWidget* parent);

// Adds an item to a combo box; a combo box built with the sorted style keeps
// its list in order, ignoring letter case. Returns the item's index.
int AddComboItem(QComboBox* combo, const QString& text);

// The template compiled into the program as :/templates/<id>.dlg. A missing or
// broken template is a build fault, so this aborts with the parser's message.
const DialogTemplate& LoadDialogTemplate(int id);
