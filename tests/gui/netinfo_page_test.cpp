// The Net Info page: its report box, which report each choice shows, and
// that a report is shown from its top with the focus in the pane.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include "hostinfo/NetInfoPage.h"
#include "hostinfo/NetInfoReports.h"
#include "support/GuiTest.h"
#include "ui/OutputPane.h"

class NetInfoPageTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        page_ = std::make_unique<NetInfoPage>(nullptr);
        QVERIFY(ShowExposed(page_.get()));
    }
    void cleanup() { page_.reset(); }

    // Built hidden, beside the page the user sees, as the main window builds it.
    void aHiddenPageLeavesTheFocusAlone()
    {
        QWidget window;
        auto* edit = new QLineEdit(&window);
        QVERIFY(ShowExposed(&window));
        edit->setFocus();
        auto* hidden = new NetInfoPage(&window);
        QVERIFY(!hidden->isVisible());
        QCOMPARE(QApplication::focusWidget(), edit);
    }

    // It starts with the IP configuration; the report box holds the template's items, announced as "Report".
    void startsWithTheIpConfiguration()
    {
        QCOMPARE(PaneText(page_.get()), IpConfigurationReport().text);
        const char* items[] = {"IP Configuration", "Adapter Information", "Port Services"};
        QCOMPARE(box()->count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(box()->itemText(i), QString::fromLatin1(items[i]));
        QCOMPARE(QAccessible::queryAccessibleInterface(box())->text(QAccessible::Description),
                 QStringLiteral("Report"));
        QCOMPARE(page_->Pane()->accessibleName(), QStringLiteral("Network Info output"));
    }

    // The user's choice builds its report; a change made by code does not.
    void eachChoiceShowsItsReportFromTheTop()
    {
        box()->setCurrentIndex(2);
        QCOMPARE(PaneText(page_.get()), IpConfigurationReport().text);

        const struct {
            int key;
            std::string start;
        } steps[] = {
            {Qt::Key_Up, "[Adapter Information]\r\n\r\nAdapter Index:\t\t1\r\nAdapter Name:\t\tlo\r\n"},
            {Qt::Key_Down, PortServicesReport().text},
            {Qt::Key_Home, IpConfigurationReport().text},
        };
        for (const auto& step : steps) {
            page_->setFocus();
            box()->setFocus();
            QTest::keyClick(box(), Qt::Key(step.key));
            QVERIFY(PaneText(page_.get()).starts_with(step.start));
            QVERIFY(page_->Pane()->hasFocus());
            QCOMPARE(page_->Pane()->verticalScrollBar()->value(), 0);
            if (step.key == Qt::Key_Down)  // the long one, had it been left at its end
                QVERIFY(page_->Pane()->verticalScrollBar()->maximum() > 0);
        }
    }

private:
    QComboBox* box() const { return page_->Item<QComboBox>(NetInfoControls::kReportBox); }

    std::unique_ptr<NetInfoPage> page_;
};

QTEST_MAIN(NetInfoPageTest)
#include "netinfo_page_test.moc"
