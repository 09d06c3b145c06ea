// The Base64 page: clipboard text in, encoded or decoded text appended.
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include "app/OutputPane.h"
#include "base64/Base64Page.h"
#include "support/GuiTest.h"

namespace {

constexpr int kEncode = 1042, kDecode = 1043, kEmpty = 1046, kClear = 1020;

QClipboard* Clipboard()
{
    return QApplication::clipboard();
}

}  // namespace

class Base64PageTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        page_ = std::make_unique<Base64Page>(nullptr);
        page_->show();
    }
    void cleanup() { page_.reset(); }

    void controlsAndPaneFont()
    {
        for (int id : {kEncode, kDecode, kEmpty, kClear}) {
            auto* button = page_->Item<QPushButton>(id);
            QVERIFY(button);
            QVERIFY(!button->isDefault());
        }
        OutputPane* pane = page_->Pane();
        QVERIFY(pane && !pane->isReadOnly());
        QCOMPARE(pane->font().pixelSize(), 10);
        QVERIFY(QFontInfo(pane->font()).fixedPitch());
    }

    // Encode, put the result on the clipboard, decode: the original comes back.
    void encodeThenDecodeGivesBackTheText()
    {
        const QString original = QStringLiteral("Grüße aus Zürich: ünïcödé and plain ASCII, long enough for two lines.");
        Clipboard()->setText(original);
        click(kEncode);
        const std::string encoded = PaneText(page_.get());
        QCOMPARE(encoded.substr(76, 2), std::string("\r\n"));  // 76-character lines
        QVERIFY(encoded.ends_with("\r\n"));

        // What a user copies from the pane: its displayed lines.
        Clipboard()->setText(page_->Pane()->toPlainText());
        click(kClear);
        QCOMPARE(PaneText(page_.get()), std::string());
        QCOMPARE(Clipboard()->text(), QString::fromStdString(encoded).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        click(kDecode);
        QCOMPARE(PaneText(page_.get()), original.toStdString() + "\r\n");
        QCOMPARE(page_->Pane()->toPlainText(), original + QLatin1Char('\n'));
    }

    void encodedLinesAndTheFinalBreak()
    {
        Clipboard()->setText(QString(59, QLatin1Char('a')));
        click(kEncode);
        QCOMPARE(PaneText(page_.get()), Line() + "\r\nYWE=\r\n");

        // A multiple of 57 bytes: the encoder's own line end, then the page's.
        click(kClear);
        Clipboard()->setText(QString(57, QLatin1Char('a')));
        click(kEncode);
        QCOMPARE(PaneText(page_.get()), Line() + "\r\n\r\n");
    }

    void decodedTextSkipsLineBreaksAndEndsAtAZeroByte()
    {
        Clipboard()->setText(QStringLiteral("SGVs\r\nbG8g\n d29y bGQ="));
        click(kDecode);
        Clipboard()->setText(QStringLiteral("SGVsbG8gd29ybGQ="));
        click(kDecode);
        QCOMPARE(PaneText(page_.get()), std::string("Hello world\r\nHello world\r\n"));

        click(kClear);
        Clipboard()->setText(QStringLiteral("QQBC"));  // "A", zero, "B"
        click(kDecode);
        QCOMPARE(PaneText(page_.get()), std::string("A\r\n"));

        // Bytes that are not UTF-8 show one character each.
        click(kClear);
        Clipboard()->setText(QStringLiteral("6Xg="));  // 0xE9 "x"
        click(kDecode);
        QCOMPARE(page_->Pane()->toPlainText(), QStringLiteral("\u00e9x\n"));

        // Not base64 at all: whatever the decoder accepts, here nothing.
        click(kClear);
        Clipboard()->setText(QStringLiteral("!!"));
        click(kDecode);
        QCOMPARE(PaneText(page_.get()), std::string("\r\n"));
    }

    // No text, an empty text or a picture: the same message, the pane unchanged.
    void withoutTextBothButtonsSayNoText()
    {
        page_->AppendOutput("kept\r\n");
        Clipboard()->setText(QStringLiteral("abc"));
        click(kEmpty);
        QVERIFY(!Clipboard()->mimeData() || !Clipboard()->mimeData()->hasText());
        expectNoText();

        Clipboard()->setText(QString());
        expectNoText();

        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        Clipboard()->setImage(image);
        expectNoText();
        QCOMPARE(PaneText(page_.get()), std::string("kept\r\n"));
    }

    // The pane is the user's to edit; results always go to its end.
    void typedTextStaysAndClearLeavesTheClipboard()
    {
        page_->Pane()->setFocus();
        QTest::keyClicks(page_->Pane(), QStringLiteral("my note"));
        page_->Pane()->moveCursor(QTextCursor::Start);
        Clipboard()->setText(QStringLiteral("Man"));
        click(kEncode);
        QCOMPARE(page_->Pane()->toPlainText(), QStringLiteral("my noteTWFu\n"));

        click(kClear);
        QCOMPARE(page_->Pane()->toPlainText(), QString());
        QCOMPARE(Clipboard()->text(), QStringLiteral("Man"));
    }

private:
    // 57 x "a": 19 groups of "YWFh".
    static std::string Line()
    {
        std::string line;
        for (int i = 0; i < 19; ++i)
            line += "YWFh";
        return line;
    }

    void click(int id) { QTest::mouseClick(page_->Item<QPushButton>(id), Qt::LeftButton); }

    void expectNoText()
    {
        MessageRecorder recorder;
        click(kEncode);
        click(kDecode);
        QCOMPARE(recorder.Texts(), QStringList({QStringLiteral("No Text In Clipboard!"), QStringLiteral("No Text In Clipboard!")}));
        QCOMPARE(recorder.Messages()[0].kind, MessageKind::Warning);
        QCOMPARE(recorder.Messages()[1].kind, MessageKind::Warning);
    }

    std::unique_ptr<Base64Page> page_;
};

QTEST_MAIN(Base64PageTest)
#include "base64_page_test.moc"
