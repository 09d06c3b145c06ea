// The Base64 page: clipboard text in, encoded or decoded text appended.
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include "base64/Base64Page.h"
#include "support/GuiTest.h"
#include "ui/OutputPane.h"

using namespace Base64Controls;

class Base64PageTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        page_ = std::make_unique<Base64Page>(nullptr);
        page_->show();
    }
    void cleanup() { page_.reset(); }

    // Encode, copy the result from the pane to the clipboard, decode: the original comes back.
    void encodeThenDecodeGivesBackTheText()
    {
        const QString original = QStringLiteral("Grüße aus Zürich: ünïcödé and plain ASCII, long enough for two lines.");
        clipboard_->setText(original);
        click(kEncodeButton);
        clipboard_->setText(page_->Pane()->toPlainText());
        click(kClearButton);
        click(kDecodeButton);
        QCOMPARE(PaneText(page_.get()), original.toStdString() + "\r\n");
        QCOMPARE(page_->Pane()->toPlainText(), original + QLatin1Char('\n'));
    }

    void resultsEndInALineBreak()
    {
        const QByteArray line = QByteArray("YWFh").repeated(19) + "\r\n";  // 57 x "a"
        const struct {
            int button;
            QString clipboard;
            QByteArray written;
        } cases[] = {
            {kEncodeButton, QString(57, QLatin1Char('a')), line + "\r\n"},  // the encoder's line end, then the page's
            {kDecodeButton, QStringLiteral("QQBC"), "A\r\n"},  // ends at the zero byte
            {kDecodeButton, QStringLiteral("!!"), "\r\n"},
            {kDecodeButton, QStringLiteral("6Xg="), "\xe9x\r\n"},
        };
        for (const auto& c : cases) {
            click(kClearButton);
            clipboard_->setText(c.clipboard);
            click(c.button);
            QCOMPARE(PaneText(page_.get()), c.written.toStdString());
        }
        QCOMPARE(page_->Pane()->toPlainText(), QStringLiteral("\u00e9x\n"));  // not UTF-8: a character a byte
    }

    // No text, an empty text or a picture: the same message, the pane unchanged.
    void withoutTextBothButtonsSayNoText()
    {
        page_->AppendOutput("kept\r\n");
        clipboard_->setText(QStringLiteral("abc"));
        click(kEmptyButton);
        QVERIFY(!clipboard_->mimeData() || !clipboard_->mimeData()->hasText());
        expectNoText();

        clipboard_->setText(QString());
        expectNoText();

        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        clipboard_->setImage(image);
        expectNoText();
        QCOMPARE(PaneText(page_.get()), std::string("kept\r\n"));
    }

    // The pane is the user's to edit, in a 10-pixel fixed-pitch font; results go to its end.
    void typedTextStays()
    {
        QCOMPARE(page_->Pane()->font().pixelSize(), 10);
        QVERIFY(QFontInfo(page_->Pane()->font()).fixedPitch());
        page_->Pane()->setFocus();
        QTest::keyClicks(page_->Pane(), QStringLiteral("my note"));
        page_->Pane()->moveCursor(QTextCursor::Start);
        clipboard_->setText(QStringLiteral("Man"));
        click(kEncodeButton);
        QCOMPARE(page_->Pane()->toPlainText(), QStringLiteral("my noteTWFu\n"));
    }

private:
    QClipboard* const clipboard_ = QApplication::clipboard();

    void click(int id) { QTest::mouseClick(page_->Item<QPushButton>(id), Qt::LeftButton); }

    void expectNoText()
    {
        MessageRecorder recorder;
        click(kEncodeButton);
        click(kDecodeButton);
        QCOMPARE(recorder.Texts(), QStringList(2, QStringLiteral("No Text In Clipboard!")));
        for (const auto& message : recorder.Messages())
            QCOMPARE(message.kind, MessageKind::Warning);
    }

    std::unique_ptr<Base64Page> page_;
};

QTEST_MAIN(Base64PageTest)
#include "base64_page_test.moc"
