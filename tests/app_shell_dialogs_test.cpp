// Link Setup and About, run modally on the real event loop and driven with
// real key presses and clicks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <functional>

#include "aboutdlg.h"
#include "linksetupdlg.h"
#include "shellicons.h"

namespace {

std::vector<ComPort> Ports(std::initializer_list<unsigned> numbers) {
    std::vector<ComPort> ports;
    for (unsigned n : numbers) ports.push_back({n, "/dev/ttyS" + std::to_string(n - 1), false});
    return ports;
}

// Runs the dialog modally; `operate` acts on it once it is up and must end it.
int RunModal(QDialog& dlg, const std::function<void()>& operate) {
    bool wasModal = false;
    QTimer::singleShot(0, &dlg, [&] {
        wasModal = QApplication::activeModalWidget() == &dlg;
        operate();
    });
    QTimer::singleShot(20000, &dlg, [&] { dlg.done(-2); });  // guard against a hang only
    const int result = dlg.exec();
    EXPECT_TRUE(wasModal);
    return result;
}

void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

QStringList Entries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    return entries;
}

bool operator==(const CLinkChoice& a, const CLinkChoice& b) {
    return a.m_nComPort == b.m_nComPort && a.m_bUsb == b.m_bUsb &&
           a.m_bManualUpdate == b.m_bManualUpdate && a.m_bBaudrate115200 == b.m_bBaudrate115200 &&
           a.m_strDevice == b.m_strDevice && a.m_bDeviceNamed == b.m_bDeviceNamed;
}

TEST(LinkSetup, ListsPortsThenUsbAndPreselectsTheCurrentPort) {
    CLinkChoice frame;
    frame.m_nComPort = 7;
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, Ports({3, 7}));
    const int result = RunModal(dlg, [&] {
        EXPECT_EQ(dlg.windowTitle(), "Link Setup");
        EXPECT_EQ(Entries(dlg.PortCombo()), QStringList({"COM3 (ttyS2)", "COM7 (ttyS6)", "USB"}));
        EXPECT_EQ(dlg.PortCombo()->currentIndex(), 1);
        EXPECT_EQ(dlg.ManualUpdateCheck()->text(), "Manual Update (Default Baudrate 9600)");
        EXPECT_EQ(dlg.Baudrate115200Check()->text(), "Change Baudrate to 115200 ");
        EXPECT_FALSE(dlg.Baudrate115200Check()->isEnabled());
        Click(dlg.OkButton());
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(frame.m_nComPort, 7);
    EXPECT_FALSE(frame.m_bUsb);
}

TEST(LinkSetup, UsbIsPreselectedWhenTheFrameUsesUsb) {
    CLinkChoice frame;
    frame.m_nComPort = 3;
    frame.m_bUsb = true;
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, Ports({3, 7}));
    RunModal(dlg, [&] {
        EXPECT_EQ(dlg.PortCombo()->currentText(), "USB");
        dlg.reject();
    });
}

TEST(LinkSetup, NoPortsLeavesUsbAlone) {
    CLinkChoice frame;
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, {});
    RunModal(dlg, [&] {
        EXPECT_EQ(Entries(dlg.PortCombo()), QStringList({"USB"}));
        dlg.reject();
    });
}

TEST(LinkSetup, UsbAndOkLeavesPortAndOptionsAsTheyWere) {
    CLinkChoice frame;
    frame.m_nComPort = 3;
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, Ports({3, 7}));
    RunModal(dlg, [&] {
        dlg.PortCombo()->setFocus();
        QTest::keyClick(dlg.PortCombo(), Qt::Key_Down);
        QTest::keyClick(dlg.PortCombo(), Qt::Key_Down);
        EXPECT_EQ(dlg.PortCombo()->currentText(), "USB");
        Click(dlg.ManualUpdateCheck());
        Click(dlg.Baudrate115200Check());
        EXPECT_TRUE(dlg.Baudrate115200Check()->isChecked());
        Click(dlg.OkButton());
    });
    EXPECT_TRUE(frame.m_bUsb);
    EXPECT_EQ(frame.m_nComPort, 3);
    EXPECT_FALSE(frame.m_bManualUpdate);
    EXPECT_FALSE(frame.m_bBaudrate115200);
}

TEST(LinkSetup, ComTwelveAndOkTakesPortAndBothOptions) {
    CLinkChoice frame;
    frame.m_nComPort = 3;
    frame.m_bUsb = true;
    CLinkSetupDlg dlg;
    std::vector<ComPort> ports = Ports({3, 12});
    ports[1] = {12, "/dev/serial/by-id/usb-receiver-if00", true};
    dlg.Attach(&frame, ports);
    const int result = RunModal(dlg, [&] {
        dlg.PortCombo()->setFocus();
        QTest::keyClick(dlg.PortCombo(), Qt::Key_Up);  // from USB to COM12
        EXPECT_EQ(dlg.PortCombo()->currentText(), "COM12 (serial/by-id/usb-receiver-if00)");
        EXPECT_FALSE(dlg.Baudrate115200Check()->isEnabled());
        Click(dlg.ManualUpdateCheck());
        EXPECT_TRUE(dlg.Baudrate115200Check()->isEnabled());
        Click(dlg.Baudrate115200Check());
        QTest::keyClick(&dlg, Qt::Key_Return);  // OK is the default button
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(frame.m_nComPort, 12);
    EXPECT_EQ(frame.m_strDevice, "/dev/serial/by-id/usb-receiver-if00") << "the port as probed";
    EXPECT_TRUE(frame.m_bDeviceNamed);
    EXPECT_FALSE(frame.m_bUsb);
    EXPECT_TRUE(frame.m_bManualUpdate);
    EXPECT_TRUE(frame.m_bBaudrate115200);
}

TEST(LinkSetup, DisabledCheckBoxKeepsItsMarkAndItIsCopied) {
    CLinkChoice frame;
    frame.m_nComPort = 7;
    frame.m_bBaudrate115200 = true;  // set, but manual update is off
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, Ports({3, 7}));
    RunModal(dlg, [&] {
        QCheckBox* baud = dlg.Baudrate115200Check();
        EXPECT_FALSE(baud->isEnabled());
        EXPECT_TRUE(baud->isChecked());
        Click(baud);  // a disabled box ignores the click
        EXPECT_TRUE(baud->isChecked());
        Click(dlg.ManualUpdateCheck());
        EXPECT_TRUE(baud->isEnabled());
        Click(dlg.ManualUpdateCheck());
        EXPECT_FALSE(baud->isEnabled());
        EXPECT_TRUE(baud->isChecked());
        Click(dlg.OkButton());
    });
    EXPECT_FALSE(frame.m_bManualUpdate);
    EXPECT_TRUE(frame.m_bBaudrate115200);
}

TEST(LinkSetup, CancelEscapeAndCloseWriteNothing) {
    CLinkChoice frame;
    frame.m_nComPort = 3;
    const CLinkChoice before = frame;
    const std::vector<std::function<void(CLinkSetupDlg&)>> endings = {
        [](CLinkSetupDlg& d) { Click(d.CancelButton()); },
        [](CLinkSetupDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](CLinkSetupDlg& d) { d.close(); },
    };
    for (const auto& end : endings) {
        CLinkSetupDlg dlg;
        dlg.Attach(&frame, Ports({3, 7}));
        const int result = RunModal(dlg, [&] {
            dlg.PortCombo()->setFocus();
            QTest::keyClick(dlg.PortCombo(), Qt::Key_Down);
            Click(dlg.ManualUpdateCheck());
            Click(dlg.Baudrate115200Check());
            end(dlg);
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(frame == before);
    }
}

TEST(LinkSetup, UnlistedPortSelectsNothingAndOkKeepsThePort) {
    CLinkChoice frame;
    frame.m_nComPort = 1;  // index 1 would be COM7: never taken from an index
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, Ports({3, 7}));
    RunModal(dlg, [&] {
        EXPECT_EQ(dlg.PortCombo()->currentIndex(), -1);
        Click(dlg.ManualUpdateCheck());
        Click(dlg.OkButton());
    });
    EXPECT_EQ(frame.m_nComPort, 1);
    EXPECT_FALSE(frame.m_bUsb);
    EXPECT_TRUE(frame.m_bManualUpdate);
}

TEST(LinkSetup, TabWalksTheControlsTopToBottom) {
    CLinkChoice frame;
    CLinkSetupDlg dlg;
    dlg.Attach(&frame, Ports({3}));
    RunModal(dlg, [&] {
        dlg.activateWindow();
        if (!QTest::qWaitForWindowActive(&dlg)) {
            ADD_FAILURE() << "dialog never became active";
            dlg.reject();
            return;
        }
        dlg.CancelButton()->setFocus();
        QList<QWidget*> order;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget();
        }
        // The 115200 box is off while Manual Update is clear, so Tab passes it.
        EXPECT_EQ(order, (QList<QWidget*>{dlg.PortCombo(), dlg.ManualUpdateCheck(), dlg.OkButton(),
                                          dlg.CancelButton(), dlg.PortCombo()}));
        dlg.reject();
    });
}

// About ----------------------------------------------------------------------

TEST(About, ShowsTheVersionAndBuildDateAndClosesWithEscape) {
    CAboutDlg dlg;
    const int result = RunModal(dlg, [&] {
        EXPECT_EQ(dlg.windowTitle(), "About QuorvexUpdate");
        const QString shown = dlg.ExeVersionLabel()->text();
        EXPECT_TRUE(QRegularExpression("^EXE version:8\\.6\\.3\\.1, built \\d{4}-\\d{2}-\\d{2}$")
                        .match(shown)
                        .hasMatch())
            << shown.toStdString();
        EXPECT_EQ(dlg.LibVersionLabel()->text(), "library version:2.23J");
        EXPECT_FALSE(dlg.CompanyLabel()->text().isEmpty());
        EXPECT_FALSE(dlg.IconLabel()->pixmap().isNull());
        EXPECT_TRUE(dlg.findChildren<QPushButton*>().isEmpty());
        QTest::keyClick(&dlg, Qt::Key_Escape);
    });
    EXPECT_EQ(result, QDialog::Rejected);
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

TEST(About, WebSiteCommandOpensTheMakersAddress) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    OnVisitWebSite();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.first(), QUrl(QString::fromLatin1(kMakerWebSite)));
}

TEST(Icons, EveryToolBarIconIsDrawn) {
    for (const QIcon& icon : {ProgramIcon(), LinkSetupIcon(), ConnectIcon(), DisconnectIcon(),
                              UpdateIcon(), ReceiverInfoIcon(), AboutIcon()}) {
        ASSERT_FALSE(icon.isNull());
        const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(opaque, 100);
    }
}

}  // namespace

#include "app_shell_dialogs_test.moc"
