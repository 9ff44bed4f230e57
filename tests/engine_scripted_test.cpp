// The frame against a receiver the test plays byte by byte on a real
// pseudo-terminal: replies the simulator never sends (an empty "SX", noise,
// oversize frames) and exactly what the frame puts on the line.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <memory>

#include "mainframe.h"
#include "prompter.h"
#include "support/pty.h"
#include "support/recording_prompter.h"
#include "support/temp_settings.h"
#include "updateview.h"

namespace {

std::vector<std::uint8_t> Frame(const char* type, std::vector<std::uint8_t> payload,
                                std::uint8_t kind = 0x11) {
    std::vector<std::uint8_t> f = {
        '$', '$', std::uint8_t(type[0]), std::uint8_t(type[1]), kind, std::uint8_t(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size(); ++i) x ^= f[i];
    f.push_back(x);
    f.push_back('\r');
    f.push_back('\n');
    return f;
}

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        SetPrompter(&prompter);
        ASSERT_TRUE(pty.IsOpen());
        settings.MapPort(201, QString::fromStdString(pty.SlavePath()));
        CLinkChoice link;
        link.m_nComPort = 201;
        frame = std::make_unique<CMainFrame>(FrameStartup{link, false});
        view = frame->GetActiveView();
    }
    void TearDown() override {
        frame.reset();
        SetPrompter(nullptr);
    }

    // Runs the event loop, gathering what the frame writes, until pred holds.
    bool Collect(const std::function<bool(const std::vector<std::uint8_t>&)>& pred,
                 int timeoutMs = 10000) {
        QEventLoop loop;
        QTimer tick, guard;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            auto some = pty.ReadSome(std::chrono::milliseconds(0));
            out.insert(out.end(), some.begin(), some.end());
            if (pred(out)) loop.quit();
        });
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start(2);
        guard.setSingleShot(true);
        guard.start(timeoutMs);
        loop.exec();
        return pred(out);
    }
    bool Contains(const std::vector<std::uint8_t>& needle, std::size_t from = 0) const {
        return std::search(out.begin() + static_cast<long>(from), out.end(), needle.begin(),
                           needle.end()) != out.end();
    }
    // The "SX" block frames the frame has sent so far, in order.
    std::vector<std::vector<std::uint8_t>> Blocks() const {
        std::vector<std::vector<std::uint8_t>> blocks;
        for (std::size_t i = 0; i + 142 <= out.size(); ++i) {
            if (out[i] == '$' && out[i + 1] == '$' && out[i + 2] == 'S' && out[i + 3] == 'X' &&
                out[i + 5] == 133) {
                blocks.emplace_back(out.begin() + static_cast<long>(i),
                                    out.begin() + static_cast<long>(i + 142));
                i += 141;
            }
        }
        return blocks;
    }

    // Connect, answer with a record, give Update, answer the poll: the first
    // block is on the line when this returns.
    void StartTransfer() {
        frame->OnCreate();
        ASSERT_TRUE(frame->IsConnected());
        std::string record =
            "GPSCARD \"Z4\" \"Z4A00417\" \"OEM\" \"5.100-2.300\" \"3.100\" \"more\" \"fields\" "
            "\"to\" \"pad\" "
            "\"the\" \"record\" \"out\"\r\n";
        ASSERT_TRUE(pty.Write(record.data(), record.size()));
        ASSERT_TRUE(Collect([&](auto&) { return !frame->m_bIdentifying; }));
        frame->Action(ID_FIRMWARE_UPDATE)->trigger();
        const auto poll = Frame("SS", {49, 54}, 24);
        ASSERT_TRUE(Collect([&](auto&) { return Contains(poll); }));
        std::vector<std::uint8_t> id(32, ' ');
        std::copy_n("Q4B1C20 123456", 14, id.begin());
        ASSERT_TRUE(pty.Write(Frame("SS", id)));
        ASSERT_TRUE(Collect([&](auto&) { return Blocks().size() == 1; }));
    }

    TempSettings settings;
    RecordingPrompter prompter;
    PtyPair pty;
    std::unique_ptr<CMainFrame> frame;
    CUpdateView* view = nullptr;
    std::vector<std::uint8_t> out;
};

}  // namespace

TEST_F(Scripted, AnEmptyAcknowledgementResendsTheSameBlock) {
    StartTransfer();
    ASSERT_TRUE(pty.Write(Frame("SX", {})));
    ASSERT_TRUE(Collect([&](auto&) { return Blocks().size() == 2; }));
    EXPECT_EQ(Blocks()[1], Blocks()[0]) << "confirmed nothing: the block goes again";
    ASSERT_TRUE(pty.Write(Frame("SX", {1})));
    ASSERT_TRUE(Collect([&](auto&) { return Blocks().size() == 3; }));
    EXPECT_EQ(Blocks()[2][10], 0x80) << "a positive one moves on";
    EXPECT_EQ(view->Lines().filter("Address: ").size(), 1);
}

TEST_F(Scripted, NoiseOversizeAndBrokenFramesLeaveTheParserIntact) {
    StartTransfer();
    std::vector<std::uint8_t> junk = {'$', 'x', '$',  '$',
                                      'S', 'X', 0x11, 200};  // announces 200 bytes
    junk.insert(junk.end(), 90, 0xAB);
    auto bad = Frame("SX", {1});
    bad[7] ^= 0xFF;  // wrong checksum
    junk.insert(junk.end(), bad.begin(), bad.end());
    auto bit3 = Frame("SX", {1}, 0x19);
    junk.insert(junk.end(), bit3.begin(), bit3.end());
    const char text[] = "log line without frames\r\n\0\xff\xfe";
    junk.insert(junk.end(), text, text + sizeof text);
    ASSERT_TRUE(pty.Write(junk));
    Collect([&](auto&) { return false; }, 300);
    EXPECT_EQ(Blocks().size(), 1u) << "none of that acknowledged a block";
    ASSERT_TRUE(pty.Write(Frame("SX", {1})));
    ASSERT_TRUE(Collect([&](auto&) { return Blocks().size() == 2; }))
        << "the next good frame still works";
}

TEST_F(Scripted, CompletionOnlyAfterEverythingWasSent) {
    StartTransfer();
    ASSERT_TRUE(pty.Write(Frame("SC", {})));
    Collect([&](auto&) { return false; }, 200);
    EXPECT_FALSE(view->Lines().contains("Completed!")) << "\"SC\" is ignored while blocks go out";
    ASSERT_TRUE(pty.Write(Frame("SS", std::vector<std::uint8_t>(32, 'Z'))));
    Collect([&](auto&) { return false; }, 200);
    EXPECT_EQ(Blocks().size(), 1u) << "a late identification does not start the transfer again";
}
