#pragma once

#include <QByteArray>
#include <optional>

#include "ui/ToolPage.h"

// Encodes the clipboard's text into base64, or decodes it, and appends the
// result to the pane, which the user may edit. The page only ever empties the
// clipboard; it never puts anything on it.
class Base64Page : public ToolPage {
    Q_OBJECT
public:
    explicit Base64Page(QWidget* parent);

private:
    void OnEncodeClipboard();
    void OnDecodeClipboard();
    void OnEmptyClipboard();
    void OnClearOutput();
    // The clipboard's plain text as UTF-8 bytes (zero-terminated, as QByteArray
    // keeps them); nullopt, after a warning, when it holds none.
    std::optional<QByteArray> ClipboardText();
};
