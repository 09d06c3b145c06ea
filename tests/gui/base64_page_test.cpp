// The Base64 page: clipboard text in, encoded or decoded text appended.
#include <QClipboard>
#include <QFontInfo>
#include <QImage>

#include "base64/Base64Page.h"
#include "support/GuiTest.h"
#include "ui/OutputPane.h"

using namespace Base64Controls;

class Base64PageTest : public QObject {
    Q_OBJECT
private slots:
    // What each button appends at the pane's end, wherever the cursor is; no text, an empty one or a
    // picture: a warning, the pane unchanged.
    void buttons()
    {
        Base64Page page(nullptr);
        QCOMPARE(page.Pane()->font().pixelSize(), 10);
        QVERIFY(QFontInfo(page.Pane()->font()).fixedPitch());
        const QString line = QString("YWFh").repeated(19) + "\r\n";  // 57 x "a"
        QImage image(4, 4, QImage::Format_RGB32);
        const struct {
            int button;
            QVariant clipboard;
            QByteArray written;
            QString shown;
        } cases[] = {
            {kEncodeButton, QString(57, 'a'), (line + "\r\n").toLatin1(), QString("YWFh").repeated(19) + "\n\n"},  // the encoder's line end, then the page's
            {kEncodeButton, "Grüße", "R3LDvMOfZQ==\r\n", "R3LDvMOfZQ==\n"},  // as UTF-8
            {kDecodeButton, "R3LDvMOfZQ==", "Gr\xc3\xbc\xc3\x9f" "e\r\n", "Grüße\n"},
            {kDecodeButton, "QQBC", "A\r\n", "A\n"},  // ends at the zero byte
            {kDecodeButton, "6Xg=", "\xe9x\r\n", "\u00e9x\n"},  // not UTF-8: a character a byte
            {kEncodeButton, QString()}, {kDecodeButton, QString()}, {kEncodeButton, image}, {kDecodeButton, QVariant()},
        };
        for (const auto& c : cases) {
            page.Item<QPushButton>(kClearButton)->click();
            page.AppendOutput("note");
            page.Pane()->moveCursor(QTextCursor::Start);
            QApplication::clipboard()->setText("text");
            if (!c.clipboard.isValid())
                page.Item<QPushButton>(kEmptyButton)->click();
            else if (c.clipboard.typeId() == QMetaType::QImage)
                QApplication::clipboard()->setImage(image);
            else
                QApplication::clipboard()->setText(c.clipboard.toString());
            MessageRecorder recorder;
            page.Item<QPushButton>(c.button)->click();
            QCOMPARE(PaneText(&page), "note" + c.written.toStdString());
            QCOMPARE(page.Pane()->toPlainText(), "note" + c.shown);
            QCOMPARE(recorder.Texts(), c.written.isEmpty() ? QStringList{"No Text In Clipboard!"} : QStringList());
            QVERIFY(std::ranges::all_of(recorder.Messages(), [](const auto& m) { return m.kind == MessageKind::Warning; }));
        }
    }
};

QTEST_MAIN(Base64PageTest)
#include "base64_page_test.moc"
