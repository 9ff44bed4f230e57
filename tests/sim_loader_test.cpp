// The simulated loader on a real pseudo-terminal: identification, "AT", block
// transfer with its checks, checksum verdict and recording.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

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
using simtest::SendImage;
using simtest::TestImage;

namespace {

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(SimLoader, IdentificationOfALoaderFamilyBoard) {
    Rig rig(FastOptions());
    rig.EnterLoader();
    const Bytes id = rig.Identify();
    const std::string s(id.begin(), id.end());
    ASSERT_GE(s.size(), 25u);
    EXPECT_EQ(s.substr(0, 7), "Q4B1C20");
    EXPECT_EQ(s.substr(4, 3), "C20");
    EXPECT_EQ(s.substr(8, 6), "123456");
    EXPECT_FALSE(s[19] == '-' && s[22] == '-');
    EXPECT_EQ(rig.sim.Stats().listenBaud, 115200) << "blocks come at 115200";
}

TEST(SimLoader, IdentificationOutsideTheFamilyThenAt) {
    qsim::SimOptions o = FastOptions();
    o.partNumber = "Q4A2C31";
    o.bootVersion = "3.000";  // loader at 9600 until "AT" is answered
    o.offerBootUpdate = true;
    Rig rig(o);
    rig.EnterLoader();
    ASSERT_EQ(rig.sim.Stats().listenBaud, 9600);
    const Bytes id = rig.Identify();
    const std::string s(id.begin(), id.end());
    EXPECT_EQ(s.substr(0, 7), "Q4A2C31");
    EXPECT_EQ(s.substr(8, 8), "12345678");
    EXPECT_EQ(s[19], '-');
    EXPECT_EQ(s[22], '-');
    EXPECT_EQ(rig.sim.Stats().listenBaud, 9600) << "no switch before \"AT\"";

    rig.client->SendFrame("AT", 24, {});
    const Frame at = rig.client->ReadFrame();
    EXPECT_EQ(at.type, "AT");
    EXPECT_TRUE(at.payload.empty());
    const auto st = rig.sim.Stats();
    EXPECT_EQ(st.atFrames, 1);
    EXPECT_EQ(st.listenBaud, 115200);
}

TEST(SimLoader, LongAndShortIdentifications) {
    const struct {
        int length;
        std::vector<std::size_t> frames;
    } cases[] = {{24, {24}}, {54, {54}}, {55, {55, 0}}, {80, {55, 25}}, {110, {55, 55, 0}}};
    for (const auto& c : cases) {
        qsim::SimOptions o = FastOptions();
        o.ssReplyLength = c.length;
        Rig rig(o);
        rig.EnterLoader();
        rig.client->SendFrame("SS", 24, {49, 54});
        std::vector<std::size_t> sizes;
        do {
            const Frame f = rig.client->ReadFrame();
            ASSERT_EQ(f.type, "SS");
            sizes.push_back(f.payload.size());
        } while (sizes.back() >= 55);
        EXPECT_EQ(sizes, c.frames) << "length " << c.length;
    }
}

TEST(SimLoader, CpuUpdateWithRightChecksumEndsWithSc) {
    const std::string dir = ::testing::TempDir();
    qsim::SimOptions o = FastOptions();
    o.recordDir = dir;
    Rig rig(o);
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(300, 1);  // three blocks, 84 pad bytes
    const std::uint32_t crc = SendImage(*rig.client, image, 21, 0);
    SendChecksum(*rig.client, crc, 0x180);
    const Frame ack = rig.client->ReadFrame();
    EXPECT_EQ(ack.type, "SX");
    EXPECT_EQ(ack.payload, Bytes{1});
    const Frame verdict = rig.client->ReadFrame();
    EXPECT_EQ(verdict.type, "SC");

    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.cpuBlocks, 3);
    EXPECT_EQ(s.checksumBlocks, 1);
    EXPECT_EQ(s.negativeAcks, 0);
    EXPECT_EQ(s.lastChecksumComputed, crc);
    EXPECT_EQ(s.lastChecksumOffset, 0x180);
    EXPECT_TRUE(s.errors.empty()) << s.errors.front();
    EXPECT_EQ(s.frameKinds, (std::vector<std::uint8_t>{24, 21, 21, 21, 17}));
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& st) { return st.completedUpdates == 1; }));
    EXPECT_EQ(rig.sim.Stats().mode, qsim::SimMode::Firmware) << "the new firmware runs";

    const auto check = rig.sim.CheckImage(0, image);
    EXPECT_TRUE(check.equal);
    EXPECT_EQ(check.pad, Bytes(84, 0xFF));
    EXPECT_EQ(ReadFile(dir + "/image1.bin"), rig.sim.Images()[0]);
}

TEST(SimLoader, WrongChecksumGetsVxAndTheNextTransferStartsOver) {
    Rig rig(FastOptions());
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(256, 2);
    const std::uint32_t crc = SendImage(*rig.client, image, 21, 0);
    SendChecksum(*rig.client, crc ^ 1, 0x100);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1}) << "the checksum block itself is taken";
    EXPECT_EQ(rig.client->ReadFrame().type, "VX");
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.vxSent == 1; }));

    // The host resets and sends everything again.
    rig.EnterLoader();
    rig.Identify();
    SendChecksum(*rig.client, SendImage(*rig.client, image, 21, 0), 0x100);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1});
    EXPECT_EQ(rig.client->ReadFrame().type, "SC");
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.transfersStarted, 2);
    EXPECT_EQ(s.resets, 2);
    EXPECT_TRUE(rig.sim.CheckImage(0, image).equal);
}

TEST(SimLoader, SecondImageFollowsWithKind20AndOneChain) {
    Rig rig(FastOptions());
    rig.EnterLoader();
    rig.Identify();
    const Bytes cpu = TestImage(70000, 3);  // offsets pass 0xFFFF: only bits 0..15 travel
    const Bytes fpga = TestImage(200, 4);
    std::uint32_t crc = SendImage(*rig.client, cpu, 21, 0);
    const unsigned cpuEnd = 547 * 128;  // ceil(70000 / 128) blocks
    crc = SendImage(*rig.client, fpga, 20, crc, (cpuEnd >> 8) & 0xFF);
    SendChecksum(*rig.client, crc, 0x100);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1});
    EXPECT_EQ(rig.client->ReadFrame().type, "SC");
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.cpuBlocks, 547);
    EXPECT_EQ(s.fpgaBlocks, 2);
    EXPECT_TRUE(s.errors.empty()) << s.errors.front();
    EXPECT_TRUE(rig.sim.CheckImage(0, cpu).equal);
    EXPECT_TRUE(rig.sim.CheckImage(1, fpga).equal);
}

TEST(SimLoader, ChecksumAfterAnEmptySecondImageMayCarryOffsetZero) {
    // The host may reset its address on switching to an FPGA image that turns
    // out empty; both that 0 and the offset after the last block are taken.
    for (unsigned offset : {0x100u, 0u}) {
        Rig rig(FastOptions());
        rig.EnterLoader();
        rig.Identify();
        const Bytes image = TestImage(256, 13);
        SendChecksum(*rig.client, SendImage(*rig.client, image, 21, 0), offset);
        EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1}) << offset;
        EXPECT_EQ(rig.client->ReadFrame().type, "SC") << offset;
    }
}

TEST(SimLoader, BlocksThatFailTheChecksAreRefused) {
    Rig rig(FastOptions());
    rig.EnterLoader();
    rig.Identify();
    const Bytes image = TestImage(512, 5);
    const Bytes b0 = BlockAt(image, 0);
    const Bytes b1 = BlockAt(image, 128);

    auto answer = [&rig](const Bytes& payload, std::uint8_t kind) {
        rig.client->SendFrame("SX", kind, payload);
        const Frame f = rig.client->ReadFrame();
        EXPECT_EQ(f.type, "SX");
        return f.payload;
    };
    EXPECT_EQ(answer(BlockPayload(128, b1.data(), 0), 21), Bytes{0}) << "no transfer yet";
    EXPECT_EQ(answer(BlockPayload(0, b0.data(), 0), 21), Bytes{1});
    EXPECT_EQ(answer(BlockPayload(256, b1.data(), 1), 21), Bytes{0}) << "a block skipped";
    Bytes wrongHeader = BlockPayload(128, b1.data(), 0);
    wrongHeader[0] = 1;
    EXPECT_EQ(answer(wrongHeader, 21), Bytes{0}) << "B0 not 0";
    EXPECT_EQ(answer(BlockPayload(128, b1.data(), 0), 22), Bytes{0}) << "unknown kind";
    EXPECT_EQ(answer(Bytes(132, 0), 21), Bytes{0}) << "short payload";
    EXPECT_EQ(answer(BlockPayload(128, b1.data(), 0), 20), Bytes{0}) << "image 2 not at 0";
    EXPECT_EQ(answer(BlockPayload(128, b1.data(), 0), 21), Bytes{1}) << "the resend is taken";

    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.negativeAcks, 6);
    EXPECT_EQ(s.positiveAcks, 2);
    EXPECT_EQ(s.errors.size(), 6u);
    EXPECT_EQ(rig.sim.Images()[0].size(), 256u);
}

TEST(SimLoader, CarriedImageWhenBuiltWithIt) {
#ifndef QUORVEX_CPU_IMAGE
    GTEST_SKIP() << "built without the carried image";
#else
    std::ifstream f(QUORVEX_CPU_IMAGE, std::ios::binary);
    const Bytes image((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(image.size(), 2937712u);
    Rig rig(FastOptions());
    rig.EnterLoader();
    rig.Identify();
    const std::uint32_t crc = SendImage(*rig.client, image, 21, 0);
    SendChecksum(*rig.client, crc, (22951u * 128) & 0xFFFF);
    EXPECT_EQ(rig.client->ReadFrame().payload, Bytes{1});
    EXPECT_EQ(rig.client->ReadFrame().type, "SC");
    const auto check = rig.sim.CheckImage(0, image);
    EXPECT_TRUE(check.equal);
    EXPECT_EQ(check.pad.size(), 16u);
    EXPECT_EQ(rig.sim.Stats().cpuBlocks, 22951);
#endif
}
