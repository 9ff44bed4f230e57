// Whole updates through the real path: frame, view, serial port, a real
// pseudo-terminal and the simulated receiver, on a real event loop.
#include <gtest/gtest.h>

#include <QAction>
#include <QEventLoop>
#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

#include "imagestore.h"
#include "mainframe.h"
#include "prompter.h"
#include "receiversim.h"
#include "support/event_wait.h"
#include "support/recording_prompter.h"
#include "support/temp_settings.h"
#include "updateview.h"

#ifndef QUORVEX_CPU_IMAGE_PATH
#error "the test needs the carried image's path"
#endif

namespace {

constexpr int kPort = 200;
constexpr int kGuardMs = 60000;  // only against hangs

std::vector<std::uint8_t> CarriedImage() {
    QFile f(QStringLiteral(QUORVEX_CPU_IMAGE_PATH));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> TestImage(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

class Update : public ::testing::Test {
protected:
    void SetUp() override { SetPrompter(&prompter); }
    void TearDown() override {
        frame.reset();
        if (sim) sim->Stop();
        SetPrompter(nullptr);
    }

    void StartSim(qsim::SimOptions options = {}) {
        sim = std::make_unique<qsim::ReceiverSim>(std::move(options));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        settings.MapPort(kPort, QString::fromStdString(sim->DevicePath()));
    }

    // Creates the frame told its port, as a test or headless run does.
    void CreateFrame(CLinkChoice link = {}) {
        link.m_nComPort = kPort;
        frame = std::make_unique<CMainFrame>(FrameStartup{link, false});
        view = frame->GetActiveView();
    }

    void ConnectAndIdentify() {
        QSignalSpy ended(frame.get(), &CMainFrame::identificationEnded);
        frame->OnCreate();
        ASSERT_TRUE(frame->IsConnected());
        ASSERT_TRUE(ended.wait(5000));
        ASSERT_TRUE(ended.takeFirst().at(0).toBool()) << "version record parsed";
    }

    // Update through the action, as the operator gives it.
    void RunUpdate() {
        QAction* update = frame->Action(ID_FIRMWARE_UPDATE);
        ASSERT_TRUE(update->isEnabled());
        update->trigger();
    }

    bool WaitCompleted(int count = 1) {
        return WaitUntil([&] { return view->Lines().count(QStringLiteral("Completed!")) >= count; },
                         kGuardMs);
    }

    void UseTestStore(std::uint16_t id, std::vector<std::uint8_t> image, const char* type = "CPU") {
        store.Add(type, id, std::move(image));
        frame->SetImageStore(&store);
    }

    QStringList AddressLines() const {
        return view->Lines().filter(QRegularExpression(QStringLiteral("^Address: ")));
    }

    TempSettings settings;
    RecordingPrompter prompter;
    CMemoryImageStore store;
    std::unique_ptr<qsim::ReceiverSim> sim;
    std::unique_ptr<CMainFrame> frame;
    CUpdateView* view = nullptr;
};

}  // namespace

TEST_F(Update, ConnectReadsTheVersionRecordAfterOneRequest) {
    StartSim();
    CreateFrame();
    EXPECT_FALSE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled()) << "not before identification";
    ConnectAndIdentify();
    const QStringList lines = view->Lines();
    EXPECT_EQ(lines, (QStringList{"Connected receiver information:", "  SN: Z4A00417",
                                  "  sw version: 5.100 - 2.300", "  boot version: 3.100"}));
    EXPECT_TRUE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled());
    EXPECT_TRUE(frame->m_bLoader115200);
    QTest::qWait(500);
    const auto stats = sim->Stats();
    EXPECT_EQ(stats.interfaceCommands, 1);
    EXPECT_EQ(stats.versionRequests, 1) << "the record stopped the requests";
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Update For Z4 OEM Board - COM200"));
}

TEST_F(Update, CarriedImageByteForByte) {
    StartSim();
    CreateFrame();
    ConnectAndIdentify();
    RunUpdate();
    const bool done = WaitCompleted();
    ASSERT_TRUE(done);

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
    EXPECT_EQ(stats.fpgaBlocks, 0);
    EXPECT_EQ(stats.atFrames, 0) << "loader family: no AT";
    EXPECT_EQ(stats.transfersStarted, 1) << "a late answer to a second poll must not start again";
    EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed);
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();

    const QStringList lines = view->Lines();
    EXPECT_EQ(AddressLines(), QStringList{"Address: 2CD380"})
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
    EXPECT_EQ(view->Progress()->maximum(), 2937712);
    EXPECT_EQ(view->Progress()->value(), 2937712);
    EXPECT_FALSE(frame->m_bAwaitCompletion);
}

TEST_F(Update, LaterHandshakesCarryTheChecksumKind) {
    qsim::SimOptions o;
    o.partNumber = "Q4A2C30";  // outside the loader family: "AT" first
    StartSim(o);
    CreateFrame();
    UseTestStore(249, TestImage(1000, 3));
    ConnectAndIdentify();
    RunUpdate();
    ASSERT_TRUE(WaitCompleted());
    auto stats = sim->Stats();
    ASSERT_EQ(stats.atFrames, 1);
    const auto firstSx = std::find_if(
        stats.frames.begin(), stats.frames.end(),
        [](const qsim::SimFrameSeen& f) { return f.type[0] == 'S' && f.type[1] == 'X'; });
    const auto firstAt = std::find_if(
        stats.frames.begin(), stats.frames.end(),
        [](const qsim::SimFrameSeen& f) { return f.type[0] == 'A' && f.type[1] == 'T'; });
    EXPECT_LT(firstAt - stats.frames.begin(), firstSx - stats.frames.begin())
        << "AT before the first block";
    EXPECT_EQ(firstAt->kind, 24);
    EXPECT_TRUE(sim->CheckImage(0, TestImage(1000, 3)).equal);

    const std::size_t before = stats.frames.size();
    RunUpdate();
    ASSERT_TRUE(WaitCompleted(2));
    stats = sim->Stats();
    bool sawSs = false, sawAt = false;
    for (std::size_t i = before; i < stats.frames.size(); ++i) {
        const auto& f = stats.frames[i];
        const bool ss = f.type[0] == 'S' && f.type[1] == 'S';
        const bool at = f.type[0] == 'A' && f.type[1] == 'T';
        sawSs = sawSs || ss;
        sawAt = sawAt || at;
        if (ss || at) {
            EXPECT_EQ(f.kind, 17);
        }
    }
    EXPECT_TRUE(sawSs && sawAt);
    EXPECT_EQ(view->Lines().count(QString(41, '-') + " "), 2)
        << "a second Update appends below the first";
}

TEST_F(Update, LoaderSpeedFollowsBootVersionAndLinkOptions) {
    struct Row {
        const char* boot;
        bool manual, option115200;
        int expected;
    } rows[] = {{"3.000", false, false, 9600},
                {"3.001", false, false, 115200},
                {"3.100", true, true, 115200},
                {"3.000", true, false, 9600}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.boot) + (row.manual ? " manual" : "") +
                     (row.option115200 ? " 115200" : ""));
        qsim::SimOptions o;
        o.bootVersion = row.boot;
        StartSim(o);
        CLinkChoice link;
        link.m_bManualUpdate = row.manual;
        link.m_bBaudrate115200 = row.option115200;
        CreateFrame(link);
        UseTestStore(248, TestImage(700, 1));
        ConnectAndIdentify();
        RunUpdate();
        ASSERT_TRUE(WaitCompleted());
        const auto stats = sim->Stats();
        // The poll runs at the loader's speed; blocks always go at 115200.
        const bool polledAt9600 = std::find(stats.lineSpeeds.begin(), stats.lineSpeeds.end(),
                                            9600) != stats.lineSpeeds.end();
        EXPECT_EQ(polledAt9600, row.expected == 9600);
        EXPECT_EQ(stats.lineSpeeds.back(), 115200);
        EXPECT_EQ(view->Lines().contains("Please manually restart the receiver now."), row.manual);
        frame.reset();
        sim->Stop();
    }
}

TEST_F(Update, NegativeAcksStrayFramesAndAForcedRestart) {
    qsim::SimOptions o;
    o.nakEvery = 7;
    o.interleaveSt = true;
    o.interleaveBit3 = true;
    o.forceVx = 1;
    StartSim(o);
    CreateFrame();
    const auto image = TestImage(100 * 128 + 5, 9);
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
    EXPECT_EQ(view->Lines().count("Updating Firmware! please wait............."), 2);
}

TEST_F(Update, SilentReceiverGetsFourRequestsThenUpdateIsOffered) {
    qsim::SimOptions o;
    o.answerVersion = false;
    StartSim(o);
    CreateFrame();
    QSignalSpy ended(frame.get(), &CMainFrame::identificationEnded);
    frame->OnCreate();
    ASSERT_TRUE(ended.wait(5000));
    EXPECT_FALSE(ended.takeFirst().at(0).toBool());
    QTest::qWait(600);
    EXPECT_EQ(sim->Stats().versionRequests, 4);
    EXPECT_TRUE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled());
    EXPECT_EQ(view->Lines(), QStringList{}) << "identification ends quietly";
}

TEST_F(Update, DisconnectDuringIdentificationStopsTheRequests) {
    qsim::SimOptions o;
    o.answerVersion = false;
    StartSim(o);
    CreateFrame();
    frame->OnCreate();
    ASSERT_TRUE(frame->IsConnected());
    frame->Action(ID_DISCONNECT)->trigger();
    EXPECT_FALSE(frame->IsConnected());
    EXPECT_FALSE(frame->Action(ID_FIRMWARE_UPDATE)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_CONNECT)->isEnabled());
    QTest::qWait(1000);
    EXPECT_EQ(sim->Stats().versionRequests, 0);
    EXPECT_FALSE(frame->IsTimerActive(TIMER_VERSION));
}

TEST_F(Update, BootUpdateWithoutABootImageSendsNothing) {
    qsim::SimOptions o;
    o.offerBootUpdate = true;
    StartSim(o);
    CreateFrame();
    prompter.answer = true;
    ConnectAndIdentify();
    RunUpdate();
    ASSERT_TRUE(WaitUntil([&] { return !prompter.errors.isEmpty(); }, kGuardMs));
    EXPECT_EQ(prompter.questions, QStringList{"QuorvexUpdate|Update boot?"});
    EXPECT_EQ(prompter.errors, QStringList{"Error|NO BOOT firmware for this model: Q4B1C20"});
    QTest::qWait(200);
    EXPECT_EQ(sim->Stats().sxFrames, 0);
}

TEST_F(Update, BootUpdatePatchesTheSerialAndEndsWithTheRestartNote) {
    qsim::SimOptions o;
    o.offerBootUpdate = true;
    o.loaderSerial = "654321";
    StartSim(o);
    CreateFrame();
    prompter.answer = true;
    auto boot = TestImage(300, 5);
    std::copy_n("Q4B1", 4, boot.begin() + 40);
    boot[56] = boot[59] = '/';
    frame->SetBootImage("Q4B1C20", 7);
    UseTestStore(7, boot, "BOOT");
    ConnectAndIdentify();
    RunUpdate();
    const QString note = QStringLiteral("继续升级，请立即重启接收机并保持供电……");
    ASSERT_TRUE(WaitUntil([&] { return view->Lines().contains(note); }, kGuardMs));
    auto patched = boot;
    std::copy_n("654321", 6, patched.begin() + 45);
    std::copy_n("C20", 3, patched.begin() + 63);
    const auto check = sim->CheckImage(0, patched);
    EXPECT_TRUE(check.equal) << check.firstDifference;
    EXPECT_EQ(AddressLines(), QStringList{"Address: 180"});
    EXPECT_EQ(view->Progress()->value(), 300);
    const QStringList lines = view->Lines();
    EXPECT_TRUE(lines.contains("Try to update now...") &&
                lines.contains("Copy receiver serial number...") &&
                lines.contains("Prepare updating for Q4B1C20..."));
    QTest::qWait(400);
    EXPECT_FALSE(view->Lines().contains("Completed!")) << "a boot update ends with the note";
}

TEST_F(Update, ShortIdentificationStopsThePollAndStartsNothing) {
    qsim::SimOptions o;
    o.ssReplyLength = 24;
    o.noiseBefore = std::string("\x01\x02$$\xff$$SS\x05", 10) + "garbage line\r\n";
    StartSim(o);
    CreateFrame();
    ConnectAndIdentify();
    RunUpdate();
    // The frame works on this thread's event loop: wait on it, not on the simulator.
    ASSERT_TRUE(WaitUntil([&] { return sim->Stats().ssAnswers >= 1; }, kGuardMs));
    QTest::qWait(300);
    const int polls = sim->Stats().ssPolls;
    QTest::qWait(300);
    EXPECT_EQ(sim->Stats().ssPolls, polls) << "the poll stopped";
    EXPECT_EQ(sim->Stats().sxFrames, 0);
    EXPECT_FALSE(frame->IsTimerActive(TIMER_SS));
}
