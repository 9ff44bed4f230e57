// Fault injection of the simulated loader, on a real pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "receiversim.h"
#include "sim_client.h"
#include "sim_rig.h"

using simtest::BlockAt;
using simtest::BlockPayload;
using simtest::Bytes;
using simtest::FastOptions;
using simtest::Frame;
using simtest::Rig;
using simtest::SendChecksum;
using simtest::TestImage;

namespace {

// Sends the block at `off` until it is acknowledged positively; returns the
// number of negative answers it took.
int SendUntilTaken(Rig& rig, const Bytes& image, unsigned off) {
    const Bytes block = BlockAt(image, off);
    for (int refused = 0;; ++refused) {
        rig.client->SendFrame("SX", 21, BlockPayload(off, block.data(), (off >> 8) & 0xFF));
        const Frame ack = rig.client->ReadFrame();
        EXPECT_EQ(ack.type, "SX");
        if (ack.payload == Bytes{1}) return refused;
        if (refused > 3) throw std::runtime_error("a block was refused again and again");
    }
}

std::uint32_t Chain(const Bytes& image) {
    std::uint32_t crc = 0;
    for (std::size_t off = 0; off < image.size(); off += 128) {
        crc = simtest::ReferenceCrc(BlockAt(image, off).data(), 128, crc);
    }
    return crc;
}

}  // namespace

TEST(SimFaults, NakEveryThirdBlockThenTheResendIsTaken) {
    qsim::SimOptions o = FastOptions();
    o.nakEvery = 3;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(128 * 8, 6);
    std::vector<int> refusals;
    for (unsigned off = 0; off < image.size(); off += 128) {
        refusals.push_back(SendUntilTaken(rig, image, off));
    }
    EXPECT_EQ(refusals, (std::vector<int>{0, 0, 1, 0, 0, 1, 0, 0}));
    // The checksum block is the ninth new block: refused once, then taken.
    SendChecksum(*rig.client, Chain(image), 8 * 128);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{0});
    SendChecksum(*rig.client, Chain(image), 8 * 128);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1});
    EXPECT_EQ(rig.client->ReadFrame().type, "SC");
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.injectedNaks, 3);
    EXPECT_EQ(s.negativeAcks, 3);
    EXPECT_TRUE(s.errors.empty());
    EXPECT_TRUE(rig.sim.CheckImage(0, image).equal);
}

TEST(SimFaults, SilentAfterTwoBlocksUntilReset) {
    qsim::SimOptions o = FastOptions();
    o.silentAfterBlocks = 2;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(128 * 4, 7);
    SendUntilTaken(rig, image, 0);
    SendUntilTaken(rig, image, 128);
    const Bytes third = BlockAt(image, 256);
    rig.client->SendFrame("SX", 21, BlockPayload(256, third.data(), 1));
    rig.client->SendFrame("SS", 24, {49, 54});
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.frames.size() == 5; }));
    // A restart ends the silence. The first frame heard after the second ack
    // is then the new identification: neither the third block nor the poll
    // sent while silent was answered.
    rig.EnterLoader();
    EXPECT_NO_THROW(rig.Identify());
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.positiveAcks, 2);
    EXPECT_EQ(s.negativeAcks, 0);
    EXPECT_EQ(s.ssAnswers, 2);
}

TEST(SimFaults, HangUpAfterTwoBlocks) {
    qsim::SimOptions o = FastOptions();
    o.hangUpAfterBlocks = 2;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(128 * 4, 8);
    SendUntilTaken(rig, image, 0);
    SendUntilTaken(rig, image, 128);
    const Bytes third = BlockAt(image, 256);
    rig.client->SendFrame("SX", 21, BlockPayload(256, third.data(), 1));
    EXPECT_TRUE(rig.client->WaitHangUp());
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.mode == qsim::SimMode::HungUp; }));
    EXPECT_EQ(rig.sim.Stats().positiveAcks, 2);
    // The serving thread ends by itself.
    for (int i = 0; i < 100 && !rig.sim.Finished(); ++i) usleep(100 * 1000);
    EXPECT_TRUE(rig.sim.Finished());
}

TEST(SimFaults, CorruptedAndCutAcks) {
    qsim::SimOptions o = FastOptions();
    o.corruptAckAt = 1;
    o.dropAckByteAt = 2;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(128 * 3, 9);
    const Bytes good = simtest::MakeFrame("SX", 0x11, {1});

    Bytes block = BlockAt(image, 0);
    rig.client->SendFrame("SX", 21, BlockPayload(0, block.data(), 0));
    Bytes ack = rig.client->ReadBytes(good.size());
    EXPECT_NE(ack, good);
    ack[good.size() - 3] = good[good.size() - 3];
    EXPECT_EQ(ack, good) << "only the checksum byte differs";

    block = BlockAt(image, 128);
    rig.client->SendFrame("SX", 21, BlockPayload(128, block.data(), 0));
    EXPECT_EQ(rig.client->ReadBytes(good.size() - 1), Bytes(good.begin(), good.end() - 1));

    block = BlockAt(image, 256);
    rig.client->SendFrame("SX", 21, BlockPayload(256, block.data(), 1));
    EXPECT_EQ(rig.client->ReadBytes(good.size()), good) << "later acks are whole";
}

TEST(SimFaults, InterleavedFramesAndTextBeforeEveryAck) {
    qsim::SimOptions o = FastOptions();
    o.interleaveSt = true;
    o.interleaveBit3 = true;
    o.interleaveText = true;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(128 * 2, 10);
    for (unsigned off = 0; off < image.size(); off += 128) {
        const Bytes block = BlockAt(image, off);
        rig.client->SendFrame("SX", 21, BlockPayload(off, block.data(), (off >> 8) & 0xFF));
        const Frame st = rig.client->ReadFrame();
        EXPECT_EQ(st.type, "ST");
        const Frame decoy = rig.client->ReadFrame();
        EXPECT_EQ(decoy.type, "SX");
        EXPECT_NE(decoy.kind & 0x08, 0);
        EXPECT_EQ(decoy.payload, Bytes{0});
        const Frame ack = rig.client->ReadFrame();
        EXPECT_EQ(ack.type, "SX");
        EXPECT_EQ(ack.kind & 0x08, 0);
        EXPECT_EQ(ack.payload, Bytes{1});
    }
    const std::string text(rig.client->Skipped().begin(), rig.client->Skipped().end());
    EXPECT_NE(text.find("<loader"), std::string::npos);
    EXPECT_EQ(text.find("$$"), std::string::npos);
}

TEST(SimFaults, ForcedVxOnceThenSc) {
    qsim::SimOptions o = FastOptions();
    o.forceVx = 1;
    Rig rig(o);
    const Bytes image = TestImage(128 * 2 + 5, 11);
    for (const char* verdict : {"VX", "SC"}) {
        rig.EnterLoader();
        rig.Identify();
        for (unsigned off = 0; off < image.size(); off += 128) SendUntilTaken(rig, image, off);
        SendChecksum(*rig.client, Chain(image), 3 * 128);
        EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1});
        EXPECT_EQ(rig.client->ReadFrame().type, verdict);
    }
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.vxSent, 1);
    EXPECT_EQ(s.scSent, 1);
    EXPECT_TRUE(s.errors.empty()) << "the forced verdict is not a checksum error";
}

TEST(SimFaults, PacedRepliesStillArrive) {
    qsim::SimOptions o = FastOptions();
    o.pace = true;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(128 * 3, 12);
    for (unsigned off = 0; off < image.size(); off += 128)
        EXPECT_EQ(SendUntilTaken(rig, image, off), 0);
    SendChecksum(*rig.client, Chain(image), 3 * 128);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1});
    EXPECT_EQ(rig.client->ReadFrame().type, "SC");
}
