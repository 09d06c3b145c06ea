// The Base64 page: clipboard text in, encoded or decoded text appended.
#include <QClipboard>
#include <QTemporaryDir>

#include "base64/Base64Page.h"
#include "support/GuiTest.h"
#include "ui/OutputPane.h"
#include "ui/PaneMenu.h"

using namespace Base64Controls;

class Base64PageTest : public QObject {
    Q_OBJECT
private slots:
    // What each button appends at the pane's end, wherever the cursor is; no text or an empty one: a warning.
    void buttons()
    {
        Base64Page page(nullptr);
        const std::tuple<int, QVariant, QByteArray, QString> cases[] = {  // button, clipboard, bytes written, text shown
            {kEncodeButton, QString(57, 'a'), QString("YWFh").repeated(19).toLatin1() + "\r\n\r\n",
             QString("YWFh").repeated(19) + "\n\n"},  // the encoder's line end, then the page's
            {kEncodeButton, "Grüße", "R3LDvMOfZQ==\r\n", "R3LDvMOfZQ==\n"},  // as UTF-8
            {kDecodeButton, "R3LDvMOfZQ==", "Gr\xc3\xbc\xc3\x9f" "e\r\n", "Grüße\n"},
            {kDecodeButton, "QQBC", "A\r\n", "A\n"},  // ends at the zero byte
            {kDecodeButton, "6Xg=", "\xe9x\r\n", "\u00e9x\n"},  // not UTF-8: a character a byte
            {kEncodeButton, QString(), "", ""}, {kDecodeButton, QString(), "", ""}, {kDecodeButton, QVariant(), "", ""},
        };
        for (const auto& [button, clipboard, written, shown] : cases) {
            page.Item<QPushButton>(kClearButton)->click();
            page.AppendOutput("note");
            page.Pane()->moveCursor(QTextCursor::Start);
            QApplication::clipboard()->setText("text");
            if (clipboard.isValid()) QApplication::clipboard()->setText(clipboard.toString());
            else page.Item<QPushButton>(kEmptyButton)->click();
            MessageRecorder recorder;
            page.Item<QPushButton>(button)->click();
            QCOMPARE(PaneText(&page), "note" + written.toStdString());
            QCOMPARE(page.Pane()->toPlainText(), "note" + shown);
            QCOMPARE(recorder.Texts(), written.isEmpty() ? QStringList{"No Text In Clipboard!"} : QStringList());
            QVERIFY(std::ranges::all_of(recorder.Messages(), [](const auto& m) { return m.kind == MessageKind::Warning; }));
        }
        // What the user typed into the pane is what Save As writes of it, with CR LF line ends.
        page.Pane()->moveCursor(QTextCursor::End);
        page.Pane()->insertPlainText("\ntyped");
        QTemporaryDir dir;
        QFile saved(dir.filePath("saved.txt"));
        QVERIFY(SavePaneText(page.Pane(), saved.fileName()) && saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), "note\r\ntyped");
    }
};

QTEST_MAIN(Base64PageTest)
#include "base64_page_test.moc"
