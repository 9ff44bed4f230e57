// The window as the operator meets it, against the simulated receiver on a
// real pseudo-terminal: menus, tool bar, titles, enable rules across the
// connection states, Esc, Link Setup, start-up connect, and whole updates
// through the window's commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <functional>
#include <memory>

#include "imagestore.h"
#include "language.h"
#include "linksetupdlg.h"
#include "mainframe.h"
#include "prompter.h"
#include "receiversim.h"
#include "settings.h"
#include "support/event_wait.h"
#include "support/package_writer.h"
#include "support/pty.h"
#include "support/recording_prompter.h"
#include "support/temp_settings.h"
#include "updateview.h"

#ifndef QUORVEX_CPU_IMAGE_PATH
#error "the test needs the carried image's path"
#endif

namespace {

constexpr int kGuardMs = 60000;  // only against hangs

bool WaitUntil(const std::function<bool()>& pred) {
    return ::WaitUntil(pred, kGuardMs);
}

std::vector<std::uint8_t> CarriedImage() {
    QFile f(QStringLiteral(QUORVEX_CPU_IMAGE_PATH));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    return {bytes.begin(), bytes.end()};
}

struct Enabled {
    bool connect, disconnect, linkSetup, update, info;
    bool operator==(const Enabled&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Enabled& e) {
    return os << "connect " << e.connect << " disconnect " << e.disconnect << " link "
              << e.linkSetup << " update " << e.update << " info " << e.info;
}

class Window : public ::testing::Test {
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
    // The window told its port, with the built-in image chosen: the tests
    // against the simulator send it on purpose.
    void Create(unsigned port = 200, CLinkChoice link = {}, bool choosePackage = true) {
        ChoosePort(link, ComPortOf(port, CSettings().PortMap()));
        frame = std::make_unique<CMainFrame>(FrameStartup{link, false, {}});
        view = frame->GetActiveView();
        if (choosePackage) frame->UsePackage(BuiltinFirmwarePackage());
    }
    void ConnectAndIdentify() {
        std::vector<bool> ended;
        OnEvent<ev::IdentificationEnded>(frame->Engine(), frame.get(),
                                         [&](const auto& e) { ended.push_back(e.recordFound); });
        frame->OnCreate();
        ASSERT_TRUE(frame->IsConnected());
        ASSERT_TRUE(WaitUntil([&] { return !ended.empty(); }));
        ASSERT_TRUE(ended.front()) << "version record parsed";
    }
    // Update through the action, as the operator gives it.
    void RunUpdate() {
        QAction* update = frame->Action(ID_FIRMWARE_UPDATE);
        ASSERT_TRUE(update->isEnabled());
        update->trigger();
    }
    bool WaitCompleted(int count = 1) {
        return WaitUntil([&] { return Lines().count(QStringLiteral("Completed!")) >= count; });
    }
    void UseTestStore(std::uint16_t id, std::vector<std::uint8_t> image) {
        store.Add("CPU", id, std::move(image));
        frame->Engine().SetFirmware(CarriedImageConfig(), store);
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
    CMemoryImageStore store;
    std::unique_ptr<qsim::ReceiverSim> sim;
    std::unique_ptr<CMainFrame> frame;
    CUpdateView* view = nullptr;
};

QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* a : actions) texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return texts;
}

}  // namespace

TEST_F(Window, MenusToolBarAndWindow) {
    Create(17);  // nothing mapped: stays disconnected
    frame->OnCreate();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board"));
    EXPECT_EQ(frame->size(), QSize(650, 500));
    EXPECT_EQ(frame->minimumSize(), QSize(650, 500)) << "the least it takes; it grows";
    EXPECT_NE(frame->maximumSize(), frame->minimumSize());

    QStringList menus;
    for (QAction* a : frame->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&App", "&Language", "&Help"}));
    const QList<QAction*> top = frame->menuBar()->actions();
    EXPECT_EQ(
        Texts(top[0]->menu()->actions()),
        (QStringList{"Connect", "Disconnect", "Update", "|", "Link setup", "Firmware Package...",
                     "Open Log Folder", "|", "Station...", "History..."}));
    EXPECT_EQ(Texts(top[1]->menu()->actions()), (QStringList{"&English", "中文(&C)"}));
    EXPECT_EQ(Texts(top[2]->menu()->actions()),
              (QStringList{"&About QuorvexUpdate...", "About Velquist"}));

    EXPECT_EQ(Texts(frame->m_wndToolBar->actions()),
              (QStringList{"Link setup", "Connect", "Disconnect", "|", "Update", "|",
                           "Receiver information", "&About QuorvexUpdate..."}));
    for (QAction* a : frame->m_wndToolBar->actions())
        EXPECT_TRUE(a->isSeparator() || !a->icon().isNull()) << a->text().toStdString();
    EXPECT_EQ(frame->Action(ID_FIRMWARE_UPDATE)->statusTip(), QStringLiteral("Update"));
    EXPECT_EQ(frame->Action(ID_FIRMWARE_UPDATE)->toolTip(), QStringLiteral("Update"));
    EXPECT_EQ(frame->Action(ID_APP_ABOUT)->statusTip(), QStringLiteral("About this application"));
}

TEST_F(Window, EnableRulesAcrossTheStates) {
    qsim::SimOptions o;
    o.recordPieceGapMs = 5;
    StartSim(o);
    Create();
    EXPECT_EQ(State(), (Enabled{true, false, true, false, false})) << "before Connect";
    frame->OnCreate();
    EXPECT_EQ(State(), (Enabled{false, true, false, false, true})) << "identifying";
    ASSERT_TRUE(WaitUntil([&] { return !frame->Engine().IsIdentifying(); }));
    EXPECT_EQ(State(), (Enabled{false, true, false, true, true})) << "idle";
    frame->Action(ID_FIRMWARE_UPDATE)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return frame->Engine().IsSending(); }));
    EXPECT_EQ(State(), (Enabled{false, true, false, true, true})) << "transfer";
    EXPECT_EQ(view->GuardText(), QStringLiteral("Do not unplug or power off the receiver"));
    // Disconnect in the middle of a flash asks first; No keeps it going.
    prompter.answer = false;
    frame->Action(ID_DISCONNECT)->trigger();
    ASSERT_EQ(prompter.questions.size(), 1);
    EXPECT_TRUE(prompter.questions[0].contains("interrupts the update"));
    const int blocks = sim->Stats().sxFrames;
    ASSERT_TRUE(WaitUntil([&] { return sim->Stats().sxFrames > blocks + 10; })) << "still sending";
    prompter.answer = true;
    frame->Action(ID_DISCONNECT)->trigger();
    EXPECT_EQ(State(), (Enabled{true, false, true, false, false})) << "after Disconnect";
    EXPECT_EQ(view->ProgressValue(), 0) << "an aborted run leaves no figures behind";
    EXPECT_TRUE(view->OutcomeText().startsWith("Failed after"))
        << view->OutcomeText().toStdString();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"))
        << "Disconnect keeps the title";
}

TEST_F(Window, EscapeConnectsOnlyWhileDisconnected) {
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

TEST_F(Window, StartUpConnectsWithTheSavedPort) {
    StartSim();
    CSettings().SetPortOfMonitor(QStringLiteral("COM200"));
    frame = std::make_unique<CMainFrame>(FrameStartup{std::nullopt, false, {}});
    EXPECT_EQ(frame->LinkChoice().m_nComPort, 200);
    frame->OnCreate();
    EXPECT_TRUE(frame->IsConnected());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"));
}

TEST_F(Window, LinkSetupChoiceIsUsedByTheNextConnect) {
    StartSim();
    Create(17);
    frame->m_arrPorts = {{200, sim->DevicePath(), true}};
    frame->OnCreate();
    ASSERT_FALSE(frame->IsConnected());
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<CLinkSetupDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->PortCombo()->setCurrentIndex(0);
        QTest::mouseClick(dlg->OkButton(), Qt::LeftButton);
    });
    frame->Action(ID_LINK_SETUP)->trigger();
    EXPECT_EQ(frame->LinkChoice().m_nComPort, 200);
    EXPECT_FALSE(frame->IsConnected()) << "the choice waits for Connect";
    frame->Action(ID_CONNECT)->trigger();
    EXPECT_TRUE(frame->IsConnected());
    EXPECT_TRUE(frame->windowTitle().endsWith(" - COM200"));
}

// An adapter plugged in while Link Setup is open appears in its list; the
// port chosen is the one the next start begins with.
TEST_F(Window, LinkSetupFollowsThePortsAndIsRemembered) {
    QTemporaryDir dev;
    const QString node = dev.path() + "/ttyQ0";
    settings.MapPort(200, node);
    FrameStartup startup{CLinkChoice{}, true, {}};
    startup.portFolders = {dev.path()};
    startup.portProbe = PortProbe::OverridesOnly;
    frame = std::make_unique<CMainFrame>(std::move(startup));
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    QStringList before, after;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<CLinkSetupDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        QComboBox* combo = dlg->PortCombo();
        for (int i = 0; i < combo->count(); ++i) before << combo->itemText(i);
        QFile::link(QString::fromStdString(pty.SlavePath()), node);
        EXPECT_TRUE(WaitUntil([&] { return combo->count() == 2; }));
        for (int i = 0; i < combo->count(); ++i) after << combo->itemText(i);
        combo->setCurrentIndex(0);
        QTest::mouseClick(dlg->OkButton(), Qt::LeftButton);
    });
    frame->Action(ID_LINK_SETUP)->trigger();
    EXPECT_EQ(before, QStringList{"USB"});
    EXPECT_EQ(after, (QStringList{"COM200 (" + node + ")", "USB"}));
    EXPECT_EQ(frame->LinkChoice().m_nComPort, 200);
    frame.reset();
    frame = std::make_unique<CMainFrame>(FrameStartup{std::nullopt, false, {}});
    EXPECT_EQ(frame->LinkChoice().m_nComPort, 200);
    EXPECT_EQ(frame->LinkChoice().m_strDevice, node.toStdString());
}

TEST_F(Window, LanguageCheckMarksFollowTheRunningLanguage) {
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

TEST_F(Window, ConnectReadsTheVersionRecordAfterOneRequest) {
    StartSim();
    Create();
    EXPECT_FALSE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled()) << "not before identification";
    ConnectAndIdentify();
    EXPECT_EQ(Lines(), (QStringList{"Connected receiver information:", "  SN: Z4A00417",
                                    "  sw version: 5.100 - 2.300", "  boot version: 3.100"}));
    EXPECT_TRUE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled());
    EXPECT_EQ(sim->Stats().versionRequests, 1) << "the record stopped the requests";
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"));
}

TEST_F(Window, CarriedImageByteForByte) {
    StartSim();
    Create();
    ConnectAndIdentify();
    QStringList titles;
    QObject::connect(frame.get(), &QWidget::windowTitleChanged,
                     [&](const QString& t) { titles << t; });
    RunUpdate();
    ASSERT_TRUE(WaitCompleted());
    // The title carries the percent while blocks go out, and the figures
    // stand beside the bar.
    EXPECT_FALSE(
        titles.filter(QRegularExpression("^\\d+% - Update For Z4 OEM Board - COM200$")).isEmpty())
        << titles.join('|').toStdString();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"));
    EXPECT_TRUE(view->Figures().startsWith("Progress: 100%  2937712/2937712 bytes"))
        << view->Figures().toStdString();

    const auto carried = CarriedImage();
    ASSERT_EQ(carried.size(), 2937712u);
    const qsim::ImageCheck check = sim->CheckImage(0, carried);
    EXPECT_TRUE(check.equal) << "first difference at " << check.firstDifference;
    ASSERT_EQ(check.pad.size(), 16u) << "last block: 112 image bytes and 16 pad bytes";
    EXPECT_TRUE(
        std::all_of(check.pad.begin(), check.pad.end(), [](std::uint8_t b) { return b == 0xFF; }));
    const auto stats = sim->Stats();
    EXPECT_EQ(stats.cpuBlocks, 22951);
    EXPECT_EQ(stats.checksumBlocks, 1);
    EXPECT_EQ(stats.atFrames, 0) << "loader family: no AT";
    EXPECT_EQ(stats.transfersStarted, 1) << "a late answer to a second poll must not start again";
    EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed);
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();

    const QStringList lines = Lines();
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^Address: "))),
              QStringList{"Address: 2CD380"})
        << "one address line, the checksum block's offset";
    const int end = lines.indexOf("Updating Firmware! please wait.............");
    ASSERT_GE(end, 0);
    EXPECT_TRUE(lines[end - 1].startsWith("Address: "));
    EXPECT_EQ(lines.mid(end + 1), (QStringList{"Completed!", QString(41, '-')}));
    const int start = lines.indexOf(QString(41, '-') + " ");
    ASSERT_GE(start, 0);
    EXPECT_EQ(lines.mid(start, 5),
              (QStringList{QString(41, '-') + " ", "Your serial port is COM200",
                           "Begin update, restarting the receiver...", "Begin update Q4B1C20...",
                           "P/N: Q4B1C20"}));
    EXPECT_EQ(view->ProgressMaximum(), 2937712);
    EXPECT_EQ(view->ProgressValue(), 2937712);
}

// The speeds the receiver sees on a real line; the rules themselves are
// checked against the engine.
// The receiver restarts into its new firmware and takes its line along: no
// error box under "Completed!", one line, and Connect works again.
TEST_F(Window, ALineClosedAfterCompletionIsNoError) {
    StartSim();
    Create();
    UseTestStore(248, std::vector<std::uint8_t>(1000, 0x3C));
    ConnectAndIdentify();
    RunUpdate();
    ASSERT_TRUE(WaitCompleted());
    sim->Stop();
    ASSERT_TRUE(WaitUntil([&] { return !frame->IsConnected(); }));
    EXPECT_TRUE(Lines().last().startsWith("The receiver closed the line ("))
        << Lines().last().toStdString();
    EXPECT_TRUE(prompter.errors.isEmpty()) << prompter.errors.join('\n').toStdString();
    EXPECT_TRUE(frame->Action(ID_CONNECT)->isEnabled());
}

TEST_F(Window, LoaderSpeedOnTheLine) {
    struct Row {
        const char* boot;
        bool manual, option115200;
        int expected;
    } rows[] = {{"3.000", false, false, 9600}, {"3.100", true, true, 115200}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.boot);
        qsim::SimOptions o;
        o.bootVersion = row.boot;
        StartSim(o);
        CLinkChoice link;
        link.m_bManualUpdate = row.manual;
        link.m_bBaudrate115200 = row.option115200;
        Create(200, link);
        UseTestStore(248, std::vector<std::uint8_t>(700, 0x5A));
        ConnectAndIdentify();
        RunUpdate();
        ASSERT_TRUE(WaitCompleted());
        const auto stats = sim->Stats();
        // The poll runs at the loader's speed; blocks always go at 115200.
        const bool polledAt9600 = std::find(stats.lineSpeeds.begin(), stats.lineSpeeds.end(),
                                            9600) != stats.lineSpeeds.end();
        EXPECT_EQ(polledAt9600, row.expected == 9600);
        EXPECT_EQ(stats.lineSpeeds.back(), 115200);
        frame.reset();
        sim->Stop();
    }
}

TEST_F(Window, NegativeAcksStrayFramesAndAForcedRestart) {
    qsim::SimOptions o;
    o.nakEvery = 7;
    o.interleaveSt = true;
    o.interleaveBit3 = true;
    o.forceVx = 1;
    StartSim(o);
    Create();
    std::vector<std::uint8_t> image(100 * 128 + 5);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 9);
    UseTestStore(248, image);
    ConnectAndIdentify();
    RunUpdate();
    ASSERT_TRUE(WaitCompleted());
    const auto stats = sim->Stats();
    EXPECT_GT(stats.injectedNaks, 20);
    EXPECT_EQ(stats.vxSent, 1);
    EXPECT_EQ(stats.completedUpdates, 1);
    EXPECT_EQ(stats.transfersStarted, 2) << "the VX made it start over";
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
    EXPECT_TRUE(sim->CheckImage(0, image).equal);
    EXPECT_EQ(Lines().count("Updating Firmware! please wait............."), 2);
}

TEST_F(Window, DisconnectDuringIdentificationStopsTheRequests) {
    qsim::SimOptions o;
    o.answerVersion = false;
    StartSim(o);
    Create();
    frame->OnCreate();
    ASSERT_TRUE(frame->IsConnected());
    frame->Action(ID_DISCONNECT)->trigger();
    EXPECT_FALSE(frame->IsConnected());
    EXPECT_FALSE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_CONNECT)->isEnabled());
    EXPECT_FALSE(frame->Engine().IsTimerActive(TIMER_VERSION));
    EXPECT_EQ(sim->Stats().versionRequests, 0);
}

// Without a chosen package the test image goes only with the operator's
// consent, asked with No as the answer a hasty Enter gives.
TEST_F(Window, TheTestImageIsSentOnlyWithConsent) {
    StartSim();
    Create(200, {}, false);
    // The built-in package as the frame loaded it, with a smaller image.
    FirmwarePackage builtin = BuiltinFirmwarePackage();
    auto small = std::make_shared<CMemoryImageStore>();
    small->Add("CPU", 248, std::vector<std::uint8_t>(1000, 0xA5));
    builtin.store = small;
    frame->Engine().SetPackage(builtin);
    ConnectAndIdentify();
    EXPECT_EQ(frame->PackageText(), QStringLiteral("Firmware: none chosen"));
    prompter.answer = false;
    RunUpdate();
    ASSERT_EQ(prompter.questions.size(), 1);
    EXPECT_TRUE(prompter.questions[0].contains("not firmware for a real receiver"));
    EXPECT_FALSE(frame->Engine().IsPolling());
    EXPECT_EQ(sim->Stats().resets, 0) << "no reset text, no byte of the update";

    prompter.answer = true;
    RunUpdate();
    ASSERT_TRUE(WaitCompleted());
    EXPECT_TRUE(Lines().contains("Firmware package: built-in test image"));
    EXPECT_TRUE(view->OutcomeText().startsWith("Completed in "))
        << view->OutcomeText().toStdString();
    RunUpdate();
    ASSERT_TRUE(WaitCompleted(2));
    ASSERT_EQ(prompter.questions.size(), 3) << "a yes holds for the rest of the run";
    EXPECT_TRUE(prompter.questions[2].contains("has just been updated"));
}

// A folder chosen in the window is checked first, used and remembered; one
// with errors is refused with its problems and changes nothing.
TEST_F(Window, PackageFolderIsCheckedUsedAndRemembered) {
    Create(17, {}, false);
    QTemporaryDir tmp;
    const QString good = tmp.path() + "/Z4-5.1", bad = tmp.path() + "/broken";
    const std::vector<std::uint8_t> cpu = {0xEE, 0xBE, 0xAD, 0xDE, 1, 2, 3};
    WritePackage(good, "loader-family Q4B1\nseries Q4\n", "cpu Q4B1C20 248\n",
                 {{"CPU/248.bin", cpu}});
    WritePackage(bad, "loader-family Q4B1\nseries Q4\n", "cpu Q4B1C20 248\ncpu Q4B1C21 249\n",
                 {{"CPU/248.bin", cpu}});

    EXPECT_FALSE(frame->UsePackageFolder(bad, true));
    ASSERT_EQ(prompter.errors.size(), 1);
    EXPECT_TRUE(prompter.errors[0].contains("CPU/249.bin: missing"))
        << prompter.errors[0].toStdString();
    EXPECT_FALSE(frame->IsPackageChosen());
    EXPECT_TRUE(CSettings().FirmwarePackageFolder().isEmpty());

    ASSERT_TRUE(frame->UsePackageFolder(good, true));
    EXPECT_EQ(frame->PackageText(), QStringLiteral("Firmware: Z4-5.1"));
    EXPECT_EQ(prompter.infos.size(), 1);
    frame.reset();

    // The next run of the program starts with it.
    FrameStartup startup{CLinkChoice{17, false, false, false, {}}, false, {}, true};
    frame = std::make_unique<CMainFrame>(std::move(startup));
    EXPECT_TRUE(frame->IsPackageChosen());
    EXPECT_EQ(frame->PackageText(), QStringLiteral("Firmware: Z4-5.1"));
}
