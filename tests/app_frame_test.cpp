// The main frame as the operator meets it: menus, tool bar, titles, enable
// rules across the connection states, Esc, Link Setup, start-up connect.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <memory>

#include "language.h"
#include "linksetupdlg.h"
#include "mainframe.h"
#include "prompter.h"
#include "receiversim.h"
#include "settings.h"
#include "support/event_wait.h"
#include "support/recording_prompter.h"
#include "support/temp_settings.h"
#include "updateview.h"

namespace {

bool WaitUntil(const std::function<bool()>& pred) {
    return ::WaitUntil(pred, 20000);
}

struct Enabled {
    bool connect, disconnect, linkSetup, update, info;
    bool operator==(const Enabled&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Enabled& e) {
    return os << "connect " << e.connect << " disconnect " << e.disconnect << " link "
              << e.linkSetup << " update " << e.update << " info " << e.info;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override { SetPrompter(&prompter); }
    void TearDown() override {
        frame.reset();
        if (sim) sim->Stop();
        SetPrompter(nullptr);
    }
    void StartSim(qsim::SimOptions o = {}) {
        sim = std::make_unique<qsim::ReceiverSim>(o);
        ASSERT_TRUE(sim->Start());
        settings.MapPort(200, QString::fromStdString(sim->DevicePath()));
    }
    void Create(int port = 200) {
        CLinkChoice link;
        link.m_nComPort = port;
        frame = std::make_unique<CMainFrame>(FrameStartup{link, false});
    }
    Enabled State() {
        QCoreApplication::processEvents();
        return {frame->Action(ID_CONNECT)->isEnabled(), frame->Action(ID_DISCONNECT)->isEnabled(),
                frame->Action(ID_LINK_SETUP)->isEnabled(),
                frame->Action(ID_FIRMWARE_UPDATE)->isEnabled(),
                frame->Action(ID_RECEIVER_INFO)->isEnabled()};
    }
    QStringList Lines() { return frame->GetActiveView()->Lines(); }

    TempSettings settings;
    RecordingPrompter prompter;
    std::unique_ptr<qsim::ReceiverSim> sim;
    std::unique_ptr<CMainFrame> frame;
};

QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* a : actions) texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return texts;
}

}  // namespace

TEST_F(Frame, MenusToolBarAndWindow) {
    Create(17);  // nothing mapped: stays disconnected
    frame->OnCreate();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board"));
    EXPECT_EQ(frame->size(), QSize(650, 500));
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize()) << "fixed size";

    QStringList menus;
    for (QAction* a : frame->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"App", "&Language", "&Help"}));
    const QList<QAction*> top = frame->menuBar()->actions();
    EXPECT_EQ(Texts(top[0]->menu()->actions()),
              (QStringList{"Connect", "Disconnect", "Update", "|", "Link setup"}));
    EXPECT_EQ(Texts(top[1]->menu()->actions()), (QStringList{"&English", "&Chinese"}));
    EXPECT_EQ(Texts(top[2]->menu()->actions()),
              (QStringList{"&About QuorvexUpdate...", "About Velquist"}));

    QStringList tools;
    for (QAction* a : frame->m_wndToolBar->actions())
        tools << (a->isSeparator() ? QStringLiteral("|") : QString::number(a->data().toInt()));
    EXPECT_EQ(tools, (QStringList{"32805", "32771", "32772", "|", "32818", "|", "32828", "57664"}));
    for (QAction* a : frame->m_wndToolBar->actions()) {
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->icon().isNull()) << a->data().toInt();
        }
    }
    EXPECT_EQ(frame->Action(ID_FIRMWARE_UPDATE)->statusTip(), QStringLiteral("Update"));
    EXPECT_EQ(frame->Action(ID_FIRMWARE_UPDATE)->toolTip(), QStringLiteral("Update"));
    EXPECT_EQ(frame->Action(ID_APP_ABOUT)->statusTip(), QStringLiteral("About this application"));
}

TEST_F(Frame, EnableRulesAcrossTheStates) {
    qsim::SimOptions o;
    o.recordPieceGapMs = 5;
    StartSim(o);
    Create();
    EXPECT_EQ(State(), (Enabled{true, false, true, false, false})) << "before Connect";
    frame->OnCreate();
    EXPECT_EQ(State(), (Enabled{false, true, false, false, true})) << "identifying";
    ASSERT_TRUE(WaitUntil([&] { return !frame->m_bIdentifying; }));
    EXPECT_EQ(State(), (Enabled{false, true, false, true, true})) << "idle";
    frame->Action(ID_FIRMWARE_UPDATE)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return frame->GetActiveView()->IsSending(); }));
    EXPECT_EQ(State(), (Enabled{false, true, false, true, true})) << "transfer";
    frame->Action(ID_DISCONNECT)->trigger();
    EXPECT_EQ(State(), (Enabled{true, false, true, false, false})) << "after Disconnect";
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"))
        << "Disconnect keeps the title";
}

TEST_F(Frame, EscapeConnectsOnlyWhileDisconnected) {
    StartSim();
    Create();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    frame->GetActiveView()->AddLine(QStringLiteral("old line"));
    QTest::keyClick(frame.get(), Qt::Key_Escape);
    ASSERT_TRUE(frame->IsConnected());
    EXPECT_FALSE(Lines().contains("old line")) << "Connect empties the list";
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() == 4; }));
    QTest::keyClick(frame.get(), Qt::Key_Escape);
    QTest::qWait(400);
    EXPECT_EQ(Lines().size(), 4) << "a second Esc neither clears nor reconnects";
    EXPECT_EQ(sim->Stats().interfaceCommands, 1);
}

TEST_F(Frame, StartUpConnectsWithTheSavedPort) {
    StartSim();
    SetPortOfMonitor(QStringLiteral("COM200"));
    frame = std::make_unique<CMainFrame>(FrameStartup{std::nullopt, false});
    EXPECT_EQ(frame->m_nComPort, 200);
    frame->OnCreate();
    EXPECT_TRUE(frame->IsConnected());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"));
}

TEST_F(Frame, LinkSetupChoiceIsUsedByTheNextConnect) {
    StartSim();
    Create(17);
    frame->m_arrPorts = {{200, "\\\\.\\COM200", sim->DevicePath()}};
    frame->OnCreate();
    ASSERT_FALSE(frame->IsConnected());
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<CLinkSetupDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->PortCombo()->setCurrentIndex(0);
        QTest::mouseClick(dlg->OkButton(), Qt::LeftButton);
    });
    frame->Action(ID_LINK_SETUP)->trigger();
    EXPECT_EQ(frame->m_nComPort, 200);
    EXPECT_FALSE(frame->IsConnected()) << "the choice waits for Connect";
    frame->Action(ID_CONNECT)->trigger();
    EXPECT_TRUE(frame->IsConnected());
    EXPECT_TRUE(frame->windowTitle().endsWith(" - COM200"));
}

TEST_F(Frame, LanguageCheckMarksFollowTheRunningLanguage) {
    Create(17);
    struct Row {
        int language;
        bool english, chinese;
    } rows[] = {{1, true, false}, {0, false, true}, {2, false, false}};
    for (const Row& row : rows) {
        CLanguage language(row.language);
        frame->SetLanguage(&language);
        EXPECT_EQ(frame->Action(ID_LANGUAGE_ENGLISH)->isChecked(), row.english) << row.language;
        EXPECT_EQ(frame->Action(ID_LANGUAGE_CHINESE)->isChecked(), row.chinese) << row.language;
        frame->Action(ID_LANGUAGE_CHINESE)->trigger();
        EXPECT_EQ(frame->Action(ID_LANGUAGE_CHINESE)->isChecked(), row.chinese)
            << "unchanged until restart";
        frame->SetLanguage(nullptr);
    }
    EXPECT_EQ(prompter.infos.size(), 2) << "Chinese chosen while English or 2 ran";
}
