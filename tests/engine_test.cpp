// The update engine against a scripted link, on a real event loop, with no
// window: identification, the baud-rate rules, both kinds of start, resends,
// restarts and the end, and the faults the engine must not repeat.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <algorithm>
#include <memory>

#include "support/event_list.h"
#include "support/event_wait.h"
#include "support/fake_link.h"
#include "support/manual_clock.h"
#include "support/recording_prompter.h"
#include "updateengine.h"

namespace {

constexpr int kWait = 10000;

ImageConfig TestConfig() {
    ImageConfig c;
    c.loaderFamily = "Q4B1";
    c.seriesPrefix = "Q4";
    c.fpgaPrefixes = {"Q4B2F"};
    c.cpuRows = {{"Q4B1C20", 1}, {"Q4X1A10", 2}, {"Q4B2F10", 3}, {"Q4B1Z99", 9}};
    return c;
}

Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return b;
}

// One engine, its scripted link and receiver, and what it reported.
struct Rig {
    std::shared_ptr<FakeLinkState> link = std::make_shared<FakeLinkState>();
    ScriptedReceiver receiver{*link};
    ImageConfig config = TestConfig();
    CMemoryImageStore store;
    RecordingPrompter prompter;
    UpdateEngine engine{FakeLinks(link), config, store};
    QStringList lines;
    std::vector<UpdateOutcome> outcomes;
    std::vector<bool> identifications;
    std::vector<EnginePhase> stalls;
    qint64 waited = -1;  // the flash write's time so far
    int restarts = 0;
    ManualClock* clock = nullptr;  // the stall and the flash write go by it

    Rig() {
        auto manual = std::make_unique<ManualClock>();
        clock = manual.get();
        engine.SetClock(std::move(manual));
        store.Add("CPU", 1, Pattern(300, 1));
        store.Add("CPU", 2, Pattern(256, 2));
        store.Add("CPU", 3, Pattern(200, 3));
        store.Add("FPGA", 4, Pattern(130, 4));
        engine.SetPrompter(&prompter);
        QObject::connect(&engine, &UpdateEngine::happened, [this](const EngineEvent& e) {
            ApplyToList(lines, e);
            if (const auto* s = std::get_if<ev::Stalled>(&e)) stalls.push_back(s->phase);
            if (const auto* f = std::get_if<ev::Finished>(&e)) outcomes.push_back(f->outcome);
            if (const auto* i = std::get_if<ev::IdentificationEnded>(&e))
                identifications.push_back(i->recordFound);
            if (const auto* w = std::get_if<ev::FlashWriteWaited>(&e)) waited = w->waitedMs;
            restarts += std::holds_alternative<ev::Restarting>(e);
        });
    }
    bool Wait(const std::function<bool()>& pred) { return WaitUntil(pred, kWait); }
    // The USB link is chosen and the fake link behaves as one.
    void UseUsb() {
        link->kind = LinkKind::Usb;
        CLinkChoice usb;
        usb.m_bUsb = true;
        engine.SetLinkChoice(usb);
    }
    // Connect and wait until identification has ended.
    void Connect() {
        ASSERT_TRUE(engine.OnConnect());
        ASSERT_TRUE(Wait([this] { return !engine.IsIdentifying(); }));
    }
    bool Completed() const {
        return std::count(outcomes.begin(), outcomes.end(), UpdateOutcome::Completed) > 0;
    }
    // Connect, Update, and wait for the receiver's confirmation.
    void FullUpdate() {
        Connect();
        engine.OnFirmwareUpdate();
        ASSERT_TRUE(Wait([this] { return Completed(); })) << lines.join('\n').toStdString();
    }
};

TEST(EngineIdentification, RecordInTheFirstAnswerStopsTheRequests) {
    Rig rig;
    rig.Connect();
    EXPECT_EQ(rig.receiver.versionRequests, 1);
    EXPECT_EQ(rig.identifications, std::vector<bool>{true});
    EXPECT_EQ(rig.lines, QStringList({"Connected receiver information:", "  SN: Z4A00417",
                                      "  sw version: 5.100 - 2.300", "  boot version: 3.100"}));
    EXPECT_EQ(rig.link->writes.front().size(), 45u) << "the interface command with its NUL";
    EXPECT_TRUE(rig.engine.Loader115200());
}

TEST(EngineIdentification, LateRecordSplitIntoPieces) {
    Rig rig;
    rig.receiver.answerVersionFrom = 3;
    rig.Connect();
    EXPECT_EQ(rig.receiver.versionRequests, 3);
    EXPECT_EQ(rig.identifications, std::vector<bool>{true});
    EXPECT_STREQ(rig.engine.ReceiverSn(), "Z4A00417");
}

TEST(EngineIdentification, SilentReceiverGetsFourRequestsThenUpdateIsOffered) {
    Rig rig;
    rig.receiver.answerVersion = false;
    rig.Connect();
    EXPECT_EQ(rig.receiver.versionRequests, 4);
    EXPECT_EQ(rig.identifications, std::vector<bool>{false});
    EXPECT_TRUE(rig.engine.IsConnected());
    EXPECT_TRUE(rig.lines.isEmpty());
}

// A record that never parsed belongs to its receiver: the next connection
// must not name the next receiver with it.
TEST(EngineIdentification, ConnectForgetsTextOfAnUnparsedRecord) {
    Rig rig;
    rig.receiver.options.recordText = "GPSCAR COM1 \"OLD00001\" Z4OEM \"1.000-1.000\" \"2.000\" ";
    rig.receiver.versionAnswersLeft = 1;  // too short to parse, and never completed
    rig.Connect();
    EXPECT_EQ(rig.identifications, std::vector<bool>{false});
    rig.engine.OnDisconnect();
    rig.receiver.options.recordText.clear();
    rig.receiver.versionAnswersLeft = -1;
    rig.receiver.options.serialNumber = "NEW00002";
    rig.Connect();
    EXPECT_STREQ(rig.engine.ReceiverSn(), "NEW00002");
}

struct BaudCase {
    const char* name;
    const char* boot;
    bool manual, option115200;
    bool drops;  // the link goes to 9600 after the reset text
};

class EngineBaud : public ::testing::TestWithParam<BaudCase> {};

TEST_P(EngineBaud, RestartSpeedFollowsTheRules) {
    const BaudCase& c = GetParam();
    Rig rig;
    rig.receiver.options.bootVersion = c.boot;
    rig.receiver.answerPolls = false;
    CLinkChoice choice;
    choice.m_bManualUpdate = c.manual;
    choice.m_bBaudrate115200 = c.option115200;
    rig.engine.SetLinkChoice(choice);
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return rig.receiver.polls > 0; }));
    EXPECT_EQ(rig.receiver.resets, 1);
    EXPECT_EQ(rig.link->SpeedChanges(9600), c.drops ? 1u : 0u);
    EXPECT_EQ(rig.link->speeds.back(), c.drops ? 9600u : 115200u);
    EXPECT_EQ(rig.lines.contains("Please manually restart the receiver now."), c.manual);
}

INSTANTIATE_TEST_SUITE_P(Rules, EngineBaud,
                         ::testing::Values(BaudCase{"Boot3100Stays", "3.100", false, false, false},
                                           BaudCase{"Boot3000Drops", "3.000", false, false, true},
                                           BaudCase{"Boot9999Drops", "9.999", false, false, true},
                                           BaudCase{"ManualDrops", "3.100", true, false, true},
                                           BaudCase{"ManualWith115200Stays", "3.000", true, true,
                                                    false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EngineTransfer, FamilyBoardStartsOnItsIdentificationAndCompletes) {
    Rig rig;
    rig.FullUpdate();
    EXPECT_EQ(rig.receiver.atFrames, 0);
    EXPECT_EQ(rig.receiver.Image(21), [] {
        Bytes b = Pattern(300, 1);
        b.resize(384, 0xFF);
        return b;
    }());
    ASSERT_EQ(rig.receiver.blocks.size(), 4u);
    const Bytes& checksum = rig.receiver.blocks.back().payload;
    EXPECT_EQ(rig.receiver.blocks.back().kind, 17);
    EXPECT_EQ((checksum[3] << 8) | checksum[4], 0x180);
    // One address line, showing the checksum block's offset last.
    EXPECT_EQ(rig.lines.mid(rig.lines.size() - 6).join('|').toStdString(),
              "Begin update Q4B1C20...|P/N: Q4B1C20|Address: 180|"
              "Updating Firmware! please wait.............|Completed!|" +
                  std::string(41, '-'));
    EXPECT_FALSE(rig.engine.IsSending());
}

TEST(EngineTransfer, BoardOutsideTheFamilyExchangesAtFirst) {
    Rig rig;
    rig.receiver.options.partNumber = "Q4X1A10";
    rig.FullUpdate();
    EXPECT_EQ(rig.receiver.atFrames, 1);
    EXPECT_EQ(rig.receiver.Image(21).size(), 256u);
    EXPECT_EQ(rig.engine.Serial(), "12345678");
}

TEST(EngineTransfer, FpgaPartSendsBothImagesWithTheirKinds) {
    Rig rig;
    rig.receiver.options.partNumber = "Q4B2F10";
    rig.engine.ImageTable().SetFpgaImage("Q4B2F10", 4);
    rig.FullUpdate();
    Bytes fpga = Pattern(130, 4);
    fpga.resize(256, 0xFF);
    EXPECT_EQ(rig.receiver.Image(20), fpga);
    // The first FPGA block carries bits 8..15 of the offset after the CPU image in B2.
    const auto first20 = std::find_if(rig.receiver.blocks.begin(), rig.receiver.blocks.end(),
                                      [](const auto& b) { return b.kind == 20; });
    ASSERT_NE(first20, rig.receiver.blocks.end());
    EXPECT_EQ(first20->payload[2], 1);
    EXPECT_EQ(first20->payload[3], 0);
}

TEST(EngineTransfer, NegativeReplyResendsTheSameBlock) {
    Rig rig;
    rig.receiver.nak = [](int block) { return block == 2; };
    rig.FullUpdate();
    ASSERT_EQ(rig.receiver.blocks.size(), 5u);
    EXPECT_EQ(rig.receiver.blocks[1].payload, rig.receiver.blocks[2].payload);
    EXPECT_EQ(rig.receiver.Image(21).size(), 384u);
}

TEST(EngineTransfer, VxRestartsAndLaterPollsCarryTheChecksumKind) {
    Rig rig;
    rig.receiver.vxLeft = 1;
    rig.FullUpdate();
    EXPECT_EQ(rig.restarts, 2);
    EXPECT_EQ(rig.receiver.resets, 2);
    ASSERT_GE(rig.receiver.pollKinds.size(), 2u);
    EXPECT_EQ(rig.receiver.pollKinds.front(), 24);
    EXPECT_EQ(rig.receiver.pollKinds.back(), 17);
}

TEST(EngineTransfer, MissingFirmwareSendsNothingAndSaysSo) {
    Rig rig;
    rig.receiver.options.partNumber = "Q4B1Z99";
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return !rig.outcomes.empty(); }));
    EXPECT_EQ(rig.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::NoFirmware});
    EXPECT_EQ(rig.prompter.errors, QStringList{"Error|NO CPU firmware for this model: Q4B1Z99"});
    EXPECT_TRUE(rig.receiver.blocks.empty());
}

// A poll sent while the answer was on its way is answered too: after a
// failed start that late answer must not repeat the box or the question.
TEST(EngineTransfer, LateIdentificationIsAnsweredOncePerRestart) {
    Rig rig;
    rig.receiver.options.partNumber = "Q4B1Z99";
    rig.receiver.options.offerBootUpdate = true;
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return !rig.outcomes.empty(); }));
    rig.receiver.Send("SS", qsim::IdentificationPayload(rig.receiver.options));
    rig.receiver.Send("SS", qsim::IdentificationPayload(rig.receiver.options));
    ASSERT_TRUE(rig.Wait([&] { return rig.link->rx.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.prompter.errors.size(), 1);
    EXPECT_EQ(rig.prompter.questions.size(), 1);
    // A new Update is a new restart: its identification is answered again.
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return rig.prompter.errors.size() == 2; }));
}

// An acknowledgement that arrives after Update was given again must not
// send a block of the old transfer into the new poll.
TEST(EngineTransfer, LateAcknowledgementAfterANewUpdateSendsNoBlock) {
    Rig rig;
    rig.receiver.silentAfterBlocks = 2;  // the receiver stalls; the operator gives Update again
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return rig.receiver.blocks.size() == 3; }));
    rig.receiver.answerPolls = false;
    rig.engine.OnFirmwareUpdate();
    const std::size_t blocksBefore = rig.receiver.blocks.size();
    rig.receiver.Send("SX", {1});
    ASSERT_TRUE(rig.Wait([&] { return rig.receiver.polls >= 3; }));
    EXPECT_EQ(rig.receiver.blocks.size(), blocksBefore);
    EXPECT_FALSE(rig.engine.IsSending());
}

// One noise byte of value '$' just before an acknowledgement must not stop
// the transfer.
TEST(EngineTransfer, StrayDollarBeforeAnAcknowledgementIsSurvived) {
    Rig rig;
    rig.link->onWrite = [&, feed = rig.link->onWrite](const Bytes& b) {
        if (b.size() == 142 && b[2] == 'S' && b[3] == 'X') rig.link->Reply("$");
        feed(b);
    };
    rig.FullUpdate();
    EXPECT_EQ(rig.receiver.Image(21).size(), 384u);
}

// The receiver waits for the operator after a boot update and may report
// nothing: the acknowledged checksum block ends it.
TEST(EngineTransfer, BootUpdatePatchesTheSerialAndEndsWithTheLastAcknowledgement) {
    Rig rig;
    rig.receiver.options.offerBootUpdate = true;
    rig.receiver.completeAfterChecksum = false;
    rig.prompter.answer = true;
    Bytes boot = Pattern(300, 9);
    const std::string record = "Q4B1-XXXXXX-xxxx/ab/c..ZZZ";
    std::copy(record.begin(), record.end(), boot.begin() + 40);
    rig.store.Add("BOOT", 5, boot);
    rig.engine.ImageTable().SetBootImage("Q4B1C20", 5);
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return !rig.outcomes.empty(); }));
    EXPECT_EQ(rig.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::BootSent});
    const Bytes sent = rig.receiver.Image(21);
    EXPECT_EQ(std::string(sent.begin() + 45, sent.begin() + 51), "123456");
    EXPECT_EQ(std::string(sent.begin() + 63, sent.begin() + 66), "C20");
    EXPECT_FALSE(rig.lines.contains("Completed!"));
}

// Replies the receiver script holds back let the test put exactly these
// bytes on the line while one block is out.
struct HeldTransfer : Rig {
    HeldTransfer() {
        link->onWrite = [this, feed = link->onWrite](const Bytes& b) {
            if (b.size() > 3 && b[2] == 'S' && b[3] == 'X') {
                ++blocksOut;
                last = b;
                return;
            }
            feed(b);
        };
    }
    void Start() {
        Connect();
        engine.OnFirmwareUpdate();
        ASSERT_TRUE(Wait([this] { return blocksOut == 1; }));
    }
    // Runs the event loop until the link is drained and its notices handled.
    void Settle() {
        ASSERT_TRUE(Wait([this] { return link->rx.empty(); }));
        QCoreApplication::processEvents();
    }
    int blocksOut = 0;
    Bytes last;
};

TEST(EngineReplies, EmptyAcknowledgementResendsTheSameBlock) {
    HeldTransfer rig;
    rig.Start();
    const Bytes first = rig.last;
    rig.receiver.Send("SX", {});
    ASSERT_TRUE(rig.Wait([&] { return rig.blocksOut == 2; }));
    EXPECT_EQ(rig.last, first) << "confirmed nothing: the block goes again";
    rig.receiver.Send("SX", {1});
    ASSERT_TRUE(rig.Wait([&] { return rig.blocksOut == 3; }));
    EXPECT_EQ(rig.last[10], 0x80) << "a positive one moves on";
}

TEST(EngineReplies, NoiseAndBrokenFramesAcknowledgeNothing) {
    HeldTransfer rig;
    rig.Start();
    Bytes junk = {'$', 'x', '$', '$', 'S', 'X', 0x11, 200};  // announces 200 bytes
    junk.insert(junk.end(), 90, 0xAB);
    Bytes bad = qsim::WriteFrame("SX", 0x11, {1});
    bad[7] ^= 0xFF;  // wrong checksum
    junk.insert(junk.end(), bad.begin(), bad.end());
    const Bytes bit3 = qsim::WriteFrame("SX", 0x19, {1});
    junk.insert(junk.end(), bit3.begin(), bit3.end());
    const char text[] = "log line without frames\r\n\0\xff\xfe";
    junk.insert(junk.end(), text, text + sizeof text);
    rig.link->Reply(junk);
    rig.Settle();
    EXPECT_EQ(rig.blocksOut, 1) << "none of that acknowledged a block";
    rig.receiver.Send("SX", {1});
    ASSERT_TRUE(rig.Wait([&] { return rig.blocksOut == 2; })) << "the next good frame works";
}

TEST(EngineReplies, CompletionAndIdentificationAreIgnoredWhileBlocksGoOut) {
    HeldTransfer rig;
    rig.Start();
    rig.receiver.Send("SC", {});
    rig.receiver.Send("SS", qsim::IdentificationPayload(rig.receiver.options));
    rig.Settle();
    EXPECT_TRUE(rig.outcomes.empty()) << "\"SC\" is ignored while blocks go out";
    EXPECT_EQ(rig.blocksOut, 1) << "a late identification does not start the transfer again";
}

TEST(EngineReplies, ShortIdentificationStopsThePollAndStartsNothing) {
    Rig rig;
    rig.receiver.options.ssReplyLength = 24;
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return !rig.engine.IsPolling(); }));
    EXPECT_TRUE(rig.receiver.blocks.empty());
    EXPECT_TRUE(rig.outcomes.empty());
}

TEST(EngineLink, RefusedOpenLeavesTheEngineDisconnectedWithAReason) {
    Rig rig;
    rig.link->openOk = false;
    rig.link->refusal = LinkRefusal::Console;
    rig.link->device = "/dev/ttyS0";
    EXPECT_FALSE(rig.engine.OnConnect());
    EXPECT_FALSE(rig.engine.IsConnected());
    ASSERT_EQ(rig.lines.size(), 1);
    EXPECT_TRUE(rig.lines[0].contains("/dev/ttyS0")) << rig.lines[0].toStdString();
    EXPECT_TRUE(rig.link->writes.empty());
}

TEST(EngineLink, UsbRestartReleasesTheDeviceAndPollsOnceItIsBack) {
    Rig rig;
    rig.UseUsb();
    rig.link->reattachFinds = false;
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    EXPECT_TRUE(rig.lines.contains("Begin update, rebooting the receiver..."));
    ASSERT_EQ(rig.link->log.back(), "release");
    EXPECT_EQ(rig.link->writes.back().size(), 29u);
    EXPECT_TRUE(rig.link->speeds.empty()) << "a USB link has no line speed";
    rig.link->reattachFinds = true;
    ASSERT_TRUE(rig.Wait([&] { return rig.Completed(); }));
    EXPECT_EQ(rig.receiver.Image(21).size(), 384u);
}

TEST(EngineLink, LostLineDuringIdentificationIsAnError) {
    Rig rig;
    rig.receiver.answerVersion = false;
    ASSERT_TRUE(rig.engine.OnConnect());
    rig.link->Lose("WARNING: ReadFile() Failed");
    ASSERT_TRUE(rig.Wait([&] { return !rig.outcomes.empty(); }));
    EXPECT_EQ(rig.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::LinkLost});
    EXPECT_EQ(rig.prompter.errors.size(), 1);
    EXPECT_EQ(rig.lines.last(), "WARNING: ReadFile() Failed") << "what ended it stays in the list";
}

// The USB link finds its device on its own thread, possibly after Connect:
// the device then still needs the switch to the text interface.
TEST(EngineLink, UsbDeviceArrivingDuringIdentificationIsSwitchedOnAndAsked) {
    Rig rig;
    rig.UseUsb();
    rig.link->ready = false;
    ASSERT_TRUE(rig.engine.OnConnect());
    EXPECT_TRUE(rig.link->writes.empty()) << "nothing is written before the device is there";
    rig.link->Arrive();
    ASSERT_TRUE(rig.Wait([&] { return !rig.identifications.empty(); }));
    EXPECT_EQ(rig.identifications, std::vector<bool>{true});
    ASSERT_FALSE(rig.link->writes.empty());
    const std::string first(rig.link->writes.front().begin(), rig.link->writes.front().end());
    EXPECT_EQ(first.rfind("interfacemode quorvex quorvex on", 0), 0u) << first;
}

// A receiver restarts into its new firmware after it confirmed the update,
// and may take its tty along: one line, no box, and Connect works again.
TEST(EngineLink, LineClosedAfterTheConfirmationIsNoError) {
    Rig rig;
    rig.FullUpdate();
    rig.link->Lose("WARNING: ReadFile() Failed");
    ASSERT_TRUE(rig.Wait([&] { return !rig.engine.IsConnected(); }));
    EXPECT_EQ(rig.lines.last(), "The receiver closed the line (/dev/fake0).");
    EXPECT_TRUE(rig.prompter.errors.isEmpty());
    EXPECT_EQ(rig.link->log.back(), "close");
    EXPECT_TRUE(rig.engine.OnConnect());
}

}  // namespace

namespace {

// A transfer whose receiver keeps its report back: the engine waits for the
// flash write, by the rig's clock.
struct FlashWrite : Rig {
    FlashWrite() { receiver.completeAfterChecksum = false; }
    void Start() {
        Connect();
        engine.OnFirmwareUpdate();
        ASSERT_TRUE(Wait([this] { return engine.Phase() == EnginePhase::FlashWrite; }));
    }
};

}  // namespace

TEST(EngineTime, AFlashWriteOfMinutesIsNoStallAndTheReceiverEndsIt) {
    FlashWrite rig;
    rig.Start();
    rig.clock->Advance(45'000);
    EXPECT_TRUE(rig.stalls.empty());
    EXPECT_TRUE(rig.outcomes.empty());
    EXPECT_EQ(rig.waited, 45'000);
    EXPECT_TRUE(rig.engine.IsRunUnderWay());
    rig.receiver.Send("SC", {});
    ASSERT_TRUE(rig.Wait([&] { return rig.Completed(); }));
    EXPECT_FALSE(rig.engine.IsRunUnderWay());
}

TEST(EngineTime, AFlashWriteBeyondTheCompletionTimeEndsUnconfirmed) {
    FlashWrite rig;
    rig.engine.SetTimeouts(30'000, 120'000);
    rig.Start();
    rig.clock->Advance(119'999);
    EXPECT_TRUE(rig.outcomes.empty());
    rig.clock->Advance(1);
    EXPECT_EQ(rig.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Unconfirmed});
    EXPECT_TRUE(rig.lines.last().contains("may still be writing"))
        << rig.lines.last().toStdString();
    EXPECT_FALSE(rig.engine.IsRunUnderWay());
    EXPECT_TRUE(rig.stalls.empty());
}

// Silence while the receiver must answer is one stall per silence; the
// engine goes on waiting and counts again once the receiver is back.
TEST(EngineTime, SilenceWhileSendingIsOneStallUntilTheReceiverIsBack) {
    HeldTransfer rig;
    rig.Start();
    rig.clock->Advance(29'999);
    EXPECT_TRUE(rig.stalls.empty());
    rig.clock->Advance(1);
    rig.clock->Advance(60'000);
    EXPECT_EQ(rig.stalls, std::vector<EnginePhase>{EnginePhase::Sending});
    rig.receiver.Send("SX", {1});
    ASSERT_TRUE(rig.Wait([&] { return rig.blocksOut == 2; }));
    rig.clock->Advance(30'000);
    EXPECT_EQ(rig.stalls.size(), 2u);
    EXPECT_TRUE(rig.outcomes.empty());
}

// A receiver left in its loader answers no "log version", so its loader's
// speed is unknown: the poll tries both.
TEST(EngineTime, ALoaderAt115200IsFoundWithoutARecord) {
    Rig rig;
    rig.receiver.answerVersion = false;
    rig.receiver.loaderBaud = 115200;
    rig.FullUpdate();
    EXPECT_EQ(rig.receiver.Image(21).size(), 384u);
    const auto first9600 = std::find(rig.link->speeds.begin(), rig.link->speeds.end(), 9600u);
    ASSERT_NE(first9600, rig.link->speeds.end()) << "9600 is tried first";
    EXPECT_NE(std::find(first9600, rig.link->speeds.end(), 115200u), rig.link->speeds.end());
}

// An "AT" answer that comes after Update was given again starts nothing:
// the new poll's own exchange does, once.
TEST(EngineReplies, ALateStartAnswerStartsNoTransfer) {
    Rig rig;
    rig.receiver.options.partNumber = "Q4X1A10";
    rig.receiver.answerAt = false;
    rig.Connect();
    rig.engine.OnFirmwareUpdate();
    ASSERT_TRUE(rig.Wait([&] { return rig.receiver.atFrames == 1; }));
    rig.receiver.answerPolls = false;
    rig.engine.OnFirmwareUpdate();
    rig.receiver.Send("AT", {});
    const int polls = rig.receiver.polls;
    ASSERT_TRUE(rig.Wait([&] { return rig.receiver.polls > polls + 2; }));
    EXPECT_TRUE(rig.receiver.blocks.empty());
    rig.receiver.answerAt = true;
    rig.receiver.answerPolls = true;
    ASSERT_TRUE(rig.Wait([&] { return rig.Completed(); }));
    EXPECT_EQ(rig.receiver.blocks.size(), 3u) << "two blocks and the checksum, no repeat";
}

// A Disconnect in the middle of a transfer ends it: the next Connect starts
// clean, and a quiet hang-up then is no error.
TEST(EngineLink, DisconnectMidTransferLeavesNothingForTheNextConnection) {
    HeldTransfer rig;
    rig.Start();
    rig.engine.OnDisconnect();
    EXPECT_EQ(rig.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Interrupted});
    rig.Connect();
    EXPECT_EQ(rig.engine.Phase(), EnginePhase::Idle);
    EXPECT_TRUE(rig.engine.PartNumber().empty());
    rig.link->Lose("WARNING: ReadFile() Failed");
    ASSERT_TRUE(rig.Wait([&] { return !rig.engine.IsConnected(); }));
    EXPECT_TRUE(rig.prompter.errors.isEmpty());
    EXPECT_EQ(rig.outcomes.size(), 1u);
}

// The device was there at Connect and its ready notice comes late.
TEST(EngineLink, OneInterfaceCommandPerConnect) {
    Rig rig;
    rig.UseUsb();
    ASSERT_TRUE(rig.engine.OnConnect());
    rig.link->Arrive();
    ASSERT_TRUE(rig.Wait([&] { return !rig.engine.IsIdentifying(); }));
    const auto interface =
        std::count_if(rig.link->writes.begin(), rig.link->writes.end(),
                      [](const Bytes& w) { return w.size() == 45 && w[0] == 'i'; });
    EXPECT_EQ(interface, 1);
}

TEST(EngineTransfer, AnFpgaImageDueButAbsentIsSaid) {
    Rig rig;
    rig.receiver.options.partNumber = "Q4B2F10";
    rig.FullUpdate();
    EXPECT_TRUE(
        rig.lines.contains("No FPGA image in the package for Q4B2F10: only the CPU image "
                           "is sent."));
    EXPECT_TRUE(rig.receiver.Image(20).empty());
}

// After "Completed!" the receiver restarts into its new firmware and is asked
// for its versions again; what it says is held against the package.
TEST(EngineVerify, TheReceiverIsAskedAgainAfterTheUpdate) {
    using Result = ev::Verified::Result;
    struct Case {
        const char* name;
        bool answers;
        const char* cpuAfter;
        Result result;
    } const cases[] = {{"new firmware", true, "5.200", Result::Matches},
                       {"old firmware", true, "5.100", Result::Differs},
                       {"silent", false, "5.200", Result::NoAnswer}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.config.versions.cpu = "5.200";
        std::vector<ev::Verified> verified;
        OnEvent<ev::Verified>(rig.engine, &rig.engine,
                              [&](const ev::Verified& v) { verified.push_back(v); });
        rig.FullUpdate();
        rig.receiver.options.cpuVersion = c.cpuAfter;
        rig.receiver.answerVersion = c.answers;
        EXPECT_EQ(rig.engine.Phase(), EnginePhase::Verifying);
        if (c.answers) {
            ASSERT_TRUE(rig.Wait([&] { return !verified.empty(); }));
        } else {
            rig.clock->Advance(60'000);
        }
        ASSERT_EQ(verified.size(), 1u);
        EXPECT_EQ(verified[0].result, c.result);
        EXPECT_EQ(rig.engine.Phase(), EnginePhase::Idle);
    }
}
