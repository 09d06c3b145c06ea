#include "ui/DialogTemplate.h"

#include <charconv>
#include <map>

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and "quoted strings" (\" and \\ escape inside quotes).
bool Tokenize(std::string_view line, std::vector<Token>& out)
{
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Token t{"", true};
            ++i;
            for (;;) {
                if (i >= line.size())
                    return false;
                if (line[i] == '"')
                    break;
                if (line[i] == '\\' && i + 1 < line.size())
                    ++i;
                t.text += line[i++];
            }
            ++i;
            out.push_back(std::move(t));
        } else {
            size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                ++i;
            out.push_back({std::string(line.substr(start, i - start)), false});
        }
    }
    return true;
}

bool ToInt(const std::string& s, int& v)
{
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size();
}

const std::map<std::string_view, ControlKind> kKinds = {
    {"groupbox", ControlKind::GroupBox}, {"label", ControlKind::Label},   {"picture", ControlKind::Picture},
    {"button", ControlKind::Button},     {"checkbox", ControlKind::CheckBox}, {"radio", ControlKind::Radio},
    {"edit", ControlKind::Edit},         {"combobox", ControlKind::ComboBox}, {"listbox", ControlKind::ListBox},
};

bool ApplyStyle(const std::string& word, ControlTemplate& c)
{
    ControlStyle& s = c.style;
    static const std::map<std::string_view, bool ControlStyle::*> flags = {
        {"default", &ControlStyle::defaultButton}, {"readonly", &ControlStyle::readOnly},
        {"digits", &ControlStyle::digitsOnly},     {"disabled", &ControlStyle::disabled},
        {"hidden", &ControlStyle::hidden},         {"pushlike", &ControlStyle::pushLike},
        {"group", &ControlStyle::groupStart},      {"sunken", &ControlStyle::sunken},
        {"clientedge", &ControlStyle::clientEdge}, {"border", &ControlStyle::border},
        {"vscroll", &ControlStyle::vscroll},       {"hscroll", &ControlStyle::hscroll},
        {"sorted", &ControlStyle::sorted},         {"dropdownlist", &ControlStyle::dropDownList},
        {"multiline", &ControlStyle::multiline},   {"pane", &ControlStyle::pane},
        {"wantreturn", &ControlStyle::wantReturn}, {"password", &ControlStyle::password},
        {"autohscroll", &ControlStyle::autoHScroll}, {"nowrap", &ControlStyle::noWrap},
        {"checked", &ControlStyle::checked},
    };
    if (auto it = flags.find(word); it != flags.end()) {
        s.*(it->second) = true;
        return true;
    }
    if (word == "dropdown" || word == "tabstop" || word == "left")
        return true;  // the defaults, accepted so templates can say them
    if (word == "center") {
        s.align = 1;
        return true;
    }
    if (word == "right") {
        s.align = 2;
        return true;
    }
    if (word.rfind("limit=", 0) == 0)
        return ToInt(word.substr(6), s.textLimit) && s.textLimit > 0;
    return false;
}

// `id NAME` as the line's last two words: the name the generated header gives
// the id (the build reads it from the line's end, so it must stand there).
bool IsName(const std::vector<Token>& t, size_t i)
{
    return t[i].text == "id" && !t[i].quoted && i + 2 == t.size() && !t[i + 1].quoted;
}

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const
{
    for (const auto& c : controls)
        if (c.id == controlId)
            return &c;
    return nullptr;
}

std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string* error)
{
    DialogTemplate dlg;
    bool haveDialog = false;
    int lineNo = 0;
    auto fail = [&](const std::string& what) -> std::optional<DialogTemplate> {
        if (error)
            *error = "line " + std::to_string(lineNo) + ": " + what;
        return std::nullopt;
    };

    while (!text.empty()) {
        ++lineNo;
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);

        std::vector<Token> t;
        if (!Tokenize(line, t))
            return fail("unterminated string");
        if (t.empty())
            continue;
        // kind id "caption" x y w h ...  (dialog: dialog id "title" w h)
        if (t[0].text == "dialog") {
            if (haveDialog || (t.size() != 5 && !(t.size() == 7 && IsName(t, 5))) || !t[2].quoted ||
                !ToInt(t[1].text, dlg.id) || !ToInt(t[3].text, dlg.w) || !ToInt(t[4].text, dlg.h))
                return fail("expected: dialog ID \"TITLE\" W H [id NAME], once");
            dlg.title = t[2].text;
            haveDialog = true;
            continue;
        }
        auto kind = kKinds.find(t[0].text);
        if (kind == kKinds.end())
            return fail("unknown control kind '" + t[0].text + "'");
        if (!haveDialog)
            return fail("a control before the dialog line");
        ControlTemplate c;
        c.kind = kind->second;
        if (t.size() < 7 || !ToInt(t[1].text, c.id) || !t[2].quoted || !ToInt(t[3].text, c.x) ||
            !ToInt(t[4].text, c.y) || !ToInt(t[5].text, c.w) || !ToInt(t[6].text, c.h))
            return fail("expected: KIND ID \"CAPTION\" X Y W H [styles] [\"items\"]");
        c.caption = t[2].text;
        for (size_t i = 7; i < t.size(); ++i) {
            if (t[i].quoted) {
                if (c.kind != ControlKind::ComboBox && c.kind != ControlKind::ListBox)
                    return fail("only combo and list boxes have items");
                c.items.push_back(t[i].text);
            } else if (t[i].text == "name" && i + 1 < t.size() && t[i + 1].quoted) {
                c.accessibleName = t[++i].text;
            } else if (IsName(t, i)) {
                break;
            } else if (!ApplyStyle(t[i].text, c)) {
                return fail("unknown style '" + t[i].text + "'");
            }
        }
        if (c.id != -1 && dlg.Find(c.id))
            return fail("duplicate id " + std::to_string(c.id));
        dlg.controls.push_back(std::move(c));
    }
    if (!haveDialog)
        return fail("no dialog line");
    return dlg;
}
