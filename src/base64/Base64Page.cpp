#include "base64/Base64Page.h"

#include <optional>
#include <string_view>
#include <vector>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPushButton>

#include "base64/Base64.h"
#include "templates/ControlIds.h"
#include "ui/OutputPane.h"

using namespace Base64Controls;

Base64Page::Base64Page(QWidget* parent) : ToolPage(kTemplate, parent)
{
    Pane()->setFont(OutputFont(font(), 10));
    connect(Item<QPushButton>(kEncodeButton), &QPushButton::clicked, this, &Base64Page::OnEncodeClipboard);
    connect(Item<QPushButton>(kDecodeButton), &QPushButton::clicked, this, &Base64Page::OnDecodeClipboard);
    connect(Item<QPushButton>(kEmptyButton), &QPushButton::clicked, this, &Base64Page::OnEmptyClipboard);
    connect(Item<QPushButton>(kClearButton), &QPushButton::clicked, this, &Base64Page::OnClearOutput);
}

std::optional<QByteArray> Base64Page::ClipboardText()
{
    // An empty text counts as none: there is nothing to encode or decode, and
    // the user is told so instead of getting a bare line break.
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    QByteArray bytes = mime && mime->hasText() ? mime->text().toUtf8() : QByteArray();
    if (bytes.isEmpty()) {
        Message(QStringLiteral("No Text In Clipboard!"), MessageKind::Warning);
        return std::nullopt;
    }
    return bytes;
}

void Base64Page::OnEncodeClipboard()
{
    const std::optional<QByteArray> text = ClipboardText();
    if (!text)
        return;
    const std::int64_t size = Base64EncodedSize(std::uint64_t(text->size()));
    std::vector<char> buffer(static_cast<std::size_t>(size));
    Base64Encode(text->constData(), text->size(), buffer.data(), size);
    AppendOutput(buffer.data());  // up to the zero that ends the encoded text
    AppendOutput("\r\n");
}

void Base64Page::OnDecodeClipboard()
{
    const std::optional<QByteArray> text = ClipboardText();
    if (!text)
        return;
    const std::int64_t size = Base64DecodedSize(text->constData());
    std::vector<char> buffer(std::size_t(size) + 1);
    const std::int64_t decoded = Base64Decode(text->constData(), buffer.data(), size + 1);
    // The decoded bytes are shown as text, which ends at a zero byte.
    std::string_view bytes(buffer.data(), std::size_t(decoded));
    bytes = bytes.substr(0, bytes.find('\0'));
    AppendOutput(bytes);
    AppendOutput("\r\n");
}

void Base64Page::OnEmptyClipboard()
{
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

void Base64Page::OnClearOutput()
{
    ClearOutput();
}
