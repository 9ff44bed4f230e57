// Whole updates over USB: the update engine and the real USB link (libusb)
// against the simulated receiver behind umockdev, whose device leaves the bus
// on the reset and comes back as its loader. Re-executes itself under the
// umockdev preload.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imagestore.h"
#include "support/event_list.h"
#include "support/event_wait.h"
#include "support/recording_prompter.h"
#include "support/test_firmware.h"
#include "support/usb_receiver.h"
#include "updateengine.h"
#include "usblink.h"

namespace {

constexpr int kGuardMs = 120000;  // only against hangs
constexpr std::size_t kImageSize = 20000;

const std::vector<UsbId> kReceiverIds = {{0x1234, 0x5678}, {0x1234, 0x5679}};

FakeUsbConfig Firmware() {
    return FakeUsbConfig().At(2).Ids(0x1234, 0x5678);
}

FakeUsbConfig Loader() {
    return FakeUsbConfig().At(5).Ids(0x1234, 0x5679);
}

// The emulated receiver and an engine on the USB link, which starts the
// update as soon as identification has ended.
struct UsbRig {
    explicit UsbRig(const qsim::SimOptions& options)
        : receiver(bus, options, Firmware(), Loader()) {
        store.Add("CPU", 1, image);
        engine = std::make_unique<UpdateEngine>(
            [](const CLinkChoice&) -> std::unique_ptr<ILink> {
                return std::make_unique<CUsbLink>(kReceiverIds);
            },
            config, store);
        CLinkChoice choice;
        choice.m_bUsb = true;
        engine->SetLinkChoice(choice);
        engine->SetPrompter(&prompter);
        QObject::connect(engine.get(), &UpdateEngine::happened,
                         [this](const EngineEvent& e) { ApplyToList(lines, e); });
        OnEvent<ev::IdentificationEnded>(
            *engine, engine.get(), [this](const ev::IdentificationEnded& e) {
                if (recordFound) return;  // one update per test
                recordFound = e.recordFound;
                QTimer::singleShot(0, engine.get(), [this] { engine->OnFirmwareUpdate(); });
            });
        OnEvent<ev::Finished>(*engine, engine.get(),
                              [this](const ev::Finished& e) { outcome = e.outcome; });
    }
    // The link lets go of its device before the device leaves the bus.
    ~UsbRig() { engine.reset(); }

    bool Finished() {
        return WaitUntil([this] { return outcome.has_value(); }, kGuardMs);
    }

    FakeUsbBus bus;
    ImageConfig config = OneCpuPartConfig();
    CMemoryImageStore store;
    std::vector<std::uint8_t> image = RandomImage(kImageSize, 5);
    RecordingPrompter prompter;
    FakeUsbReceiver receiver;
    std::unique_ptr<UpdateEngine> engine;
    QStringList lines;
    std::optional<bool> recordFound;
    std::optional<UpdateOutcome> outcome;
};

void ExpectWholeImage(UsbRig& rig, const qsim::SimStats& stats) {
    EXPECT_EQ(stats.cpuBlocks, static_cast<int>((kImageSize + 127) / 128));
    EXPECT_EQ(stats.checksumBlocks, 1);
    EXPECT_EQ(stats.negativeAcks, 0);
    EXPECT_EQ(stats.completedUpdates, 1);
    EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed);
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
    EXPECT_TRUE(rig.receiver.Sim().CheckImage(0, rig.image).equal);
}

TEST(UsbUpdate, TheResetTakesTheDeviceOffTheBusAndItsLoaderTakesTheWholeImage) {
    UsbRig rig({});  // its device leaves the moment the reset text is in
    std::string error;
    ASSERT_TRUE(rig.receiver.Start(true, &error)) << error;
    FakeUsbDevice* firmware = rig.receiver.Present();
    ASSERT_NE(firmware, nullptr);
    ASSERT_TRUE(rig.engine->OnConnect());

    ASSERT_TRUE(rig.Finished());
    EXPECT_EQ(rig.outcome, UpdateOutcome::Completed);
    EXPECT_EQ(rig.recordFound, true) << "the version record came over USB";
    EXPECT_TRUE(rig.lines.contains("Begin update, rebooting the receiver..."));
    EXPECT_TRUE(rig.lines.contains("Completed!"));
    EXPECT_TRUE(rig.prompter.errors.isEmpty()) << rig.prompter.errors.join('\n').toStdString();

    // The reset text with its NUL was the last the firmware device got, in
    // one transfer: nothing was sent to it once it had to go.
    const std::vector<std::uint8_t> got = firmware->Received();
    const std::string reset("\r\n\r\ntst usbcmdreset\r\nreset\r\n", 29);
    ASSERT_GE(got.size(), reset.size());
    EXPECT_EQ(std::string(got.end() - 29, got.end()), reset);
    EXPECT_EQ(firmware->OutSizes().back(), 29);

    // The loader came as a device of its own and took the poll and the blocks.
    FakeUsbDevice* loader = rig.receiver.Present();
    ASSERT_NE(loader, nullptr);
    EXPECT_NE(loader, firmware);
    EXPECT_EQ(loader->Config().product, 0x5679);
    EXPECT_EQ(rig.engine->LinkDevice(), loader->DevNode());
    EXPECT_EQ(rig.receiver.Arrivals(), 2);

    const qsim::SimStats stats = rig.receiver.Sim().Stats();
    EXPECT_EQ(stats.interfaceCommands, 1);
    EXPECT_GE(stats.versionAnswers, 1);
    EXPECT_EQ(stats.usbResetCommands, 1);
    EXPECT_EQ(stats.resets, 1);
    EXPECT_EQ(stats.loaderStarts, 1);
    EXPECT_GE(stats.ssAnswers, 1);
    ExpectWholeImage(rig, stats);
}

TEST(UsbUpdate, AReceiverPluggedInWhileTheManualRebootIsPolledIsUpdated) {
    qsim::SimOptions options;
    options.startInLoader = true;  // powered up by the plug, its loader listens
    UsbRig rig(options);
    std::string error;
    ASSERT_TRUE(rig.receiver.Start(false, &error)) << error;
    ASSERT_TRUE(rig.engine->OnConnect()) << "the receiver may come later";
    EXPECT_FALSE(rig.engine->IsLinkReady());

    ASSERT_TRUE(WaitUntil([&] { return rig.engine->IsPolling(); }, kGuardMs));
    EXPECT_TRUE(rig.lines.contains("Please reboot the receiver manually..."));
    rig.receiver.Plug();

    ASSERT_TRUE(rig.Finished());
    EXPECT_EQ(rig.outcome, UpdateOutcome::Completed);
    EXPECT_EQ(rig.receiver.Arrivals(), 1);
    EXPECT_EQ(rig.engine->LinkDevice(), rig.receiver.Present()->DevNode());
    const qsim::SimStats stats = rig.receiver.Sim().Stats();
    EXPECT_EQ(stats.resets, 0);
    EXPECT_GE(stats.ssAnswers, 1);
    ExpectWholeImage(rig, stats);
}

TEST(UsbUpdate, AnUnplugMidTransferEndsItWithALineAndConnectWorksAgain) {
    UsbRig rig({});
    ASSERT_TRUE(rig.receiver.Start());
    ASSERT_TRUE(rig.engine->OnConnect());
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.Sim().Stats().cpuBlocks >= 20; }, kGuardMs));
    const std::string node = rig.receiver.Present()->DevNode();
    rig.receiver.Unplug();

    ASSERT_TRUE(rig.Finished());
    EXPECT_EQ(rig.outcome, UpdateOutcome::LinkLost);
    const QString line = QString::fromStdString("The receiver's USB device " + node +
                                                " left the bus (unplugged or restarted).");
    EXPECT_TRUE(rig.lines.contains(line)) << rig.lines.join('\n').toStdString();
    EXPECT_EQ(rig.prompter.errors.size(), 1);
    EXPECT_FALSE(rig.engine->IsConnected()) << "the lost line is closed";

    // Plugged in again, it is found anew.
    rig.receiver.Plug();
    ASSERT_TRUE(rig.engine->OnConnect());
    EXPECT_TRUE(WaitUntil([&] { return rig.engine->IsLinkReady(); }, kGuardMs));
}

// A receiver restarts into its new firmware after it confirmed the update and
// leaves the bus: one line, no box.
TEST(UsbUpdate, AReceiverThatLeavesAfterCompletedIsNoError) {
    qsim::SimOptions options;
    options.hangUpAfterScMs = 100;
    UsbRig rig(options);
    ASSERT_TRUE(rig.receiver.Start());
    ASSERT_TRUE(rig.engine->OnConnect());
    ASSERT_TRUE(rig.Finished());
    EXPECT_EQ(rig.outcome, UpdateOutcome::Completed);
    ASSERT_TRUE(WaitUntil([&] { return !rig.engine->IsConnected(); }, kGuardMs));
    EXPECT_TRUE(rig.lines.last().startsWith("The receiver closed the line (/dev/bus/usb/"))
        << rig.lines.last().toStdString();
    EXPECT_TRUE(rig.lines.contains("Completed!"));
    EXPECT_TRUE(rig.prompter.errors.isEmpty()) << rig.prompter.errors.join('\n').toStdString();
}

// A vendor-class device that never answers the interface-class questions
// costs the link's thread 200 ms per question; the engine's thread (the
// window's) goes on meanwhile, and the receiver behind it is still found.
TEST(UsbUpdate, AMuteDeviceOnTheBusNeverHoldsUpTheEngineThread) {
    UsbRig rig({});
    FakeUsbDevice* mute = rig.bus.Add(FakeUsbConfig().At(1).Ids(0x0bad, 0x0001).SilentControl());
    ASSERT_NE(mute, nullptr);
    ASSERT_TRUE(rig.receiver.Start());
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    ASSERT_TRUE(rig.engine->OnConnect());
    // Three unanswered questions hold the link's thread for 600 ms at least;
    // a blocked engine thread would tick a handful of times in that span.
    ASSERT_TRUE(WaitUntil([&] { return mute->Count("control_ignored") >= 3; }, kGuardMs));
    EXPECT_GE(ticks, 15);
    ASSERT_TRUE(rig.Finished());
    EXPECT_EQ(rig.outcome, UpdateOutcome::Completed);
}

}  // namespace

int main(int argc, char** argv) {
    RunUnderUmockdev(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
