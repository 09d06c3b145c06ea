#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A dialog template as data: the dialog's id, title and size, and its controls
// with ids, kinds, captions and positions in dialog units. Text form, one item
// a line ('#' starts a comment):
//
//   dialog 132 "Ping:" 362 243 id Ping
//   groupbox -1 "Ping:" 2 2 358 239
//   combobox 1011 "" 55 39 193 64 dropdown vscroll id kHostBox
//   button 1004 "QUERY" 260 39 45 12 default id kQueryButton
//   edit 1001 "" 2 71 358 170 pane multiline readonly vscroll border
//
// After the geometry come styles (a word, or word=value) and, for combo and
// list boxes, their items as further quoted strings. `name "..."` gives a
// control its accessible name where the one derived from the layout is wrong.
// A trailing `id NAME` names the id for the code: the build generates
// templates/ControlIds.h with `namespace PingControls { kTemplate = 132;
// kHostBox = 1011; ... }` from these lines.

enum class ControlKind { GroupBox, Label, Picture, Button, CheckBox, Radio, Edit, ComboBox, ListBox };

struct ControlStyle {
    bool defaultButton = false;
    bool readOnly = false;
    bool digitsOnly = false;
    int textLimit = 0;          // 0: none
    bool disabled = false;
    bool hidden = false;
    bool pushLike = false;      // radio or check box drawn as a push button
    bool groupStart = false;
    bool sunken = false;        // sunken or static edge
    bool clientEdge = false;
    bool border = false;
    bool vscroll = false;
    bool hscroll = false;
    bool sorted = false;
    bool dropDownList = false;  // combo box whose text cannot be edited
    bool multiline = false;
    bool pane = false;          // the page's output pane
    bool wantReturn = false;
    bool password = false;
    bool autoHScroll = false;
    bool noWrap = false;
    int align = 0;              // 0 left, 1 centre, 2 right
    bool checked = false;
};

struct ControlTemplate {
    ControlKind kind = ControlKind::Label;
    int id = -1;  // -1: a control the code never looks up
    std::string caption;
    int x = 0, y = 0, w = 0, h = 0;
    ControlStyle style;
    std::vector<std::string> items;
    std::string accessibleName;  // empty: derived from the caption or the label before it
};

struct DialogTemplate {
    int id = 0;
    std::string title;
    int w = 0, h = 0;
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const;
};

// The template, or nullopt with a message naming the line that is wrong.
std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string* error = nullptr);
