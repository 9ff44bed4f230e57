// The simulator's own pieces, without a line: checksum, frame reader and
// writer, the texts it answers with, and the image comparison.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receiversim.h"
#include "sim_client.h"
#include "simcrc.h"
#include "simframe.h"
#include "simtexts.h"

using simtest::Bytes;

namespace {

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    for (;;) {
        const std::size_t blank = text.find(' ', start);
        tokens.push_back(text.substr(start, blank - start));
        if (blank == std::string::npos) return tokens;
        start = blank + 1;
    }
}

struct Collected {
    std::vector<qsim::SimFrame> frames;
    std::string text;
    int bad = 0;
};

qsim::FrameReader MakeReader(Collected& c) {
    return qsim::FrameReader([&c](const qsim::SimFrame& f) { c.frames.push_back(f); },
                             [&c](std::uint8_t b) { c.text.push_back(static_cast<char>(b)); },
                             [&c](const std::string&) { ++c.bad; });
}

}  // namespace

TEST(SimCrc, KnownValuesAndChaining) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(qsim::BlockCrc(abc, 3, 0), 0xD09865CAu);
    EXPECT_EQ(qsim::BlockCrc(nullptr, 0, 0x11223344u), 0x44332211u);

    std::vector<std::uint8_t> data(128 * 5);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    std::uint32_t sim = 0, reference = 0;
    for (std::size_t b = 0; b < 5; ++b) {
        sim = qsim::BlockCrc(data.data() + b * 128, 128, sim);
        reference = simtest::ReferenceCrc(data.data() + b * 128, 128, reference);
        EXPECT_EQ(sim, reference) << "block " << b;
    }
}

TEST(SimFrame, WriterMatchesTheKnownAck) {
    const Bytes expected = {'$', '$', 'S', 'X', 0x11, 0x01, 0x01, 0x1A, '\r', '\n'};
    EXPECT_EQ(qsim::WriteFrame("SX", 0x11, {1}), expected);
    EXPECT_EQ(qsim::WriteFrame("AT", 0x18, {}), simtest::MakeFrame("AT", 0x18, {}));
}

TEST(SimFrame, ReaderTakesFramesAndPassesTextOn) {
    struct Case {
        const char* name;
        Bytes input;
        std::size_t frames;
        std::string text;
        int bad;
    };
    const Bytes ss = simtest::MakeFrame("SS", 0x18, {49, 54});
    Bytes badSum = ss;
    badSum[8] ^= 1;
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Case cases[] = {
        {"one frame", ss, 1, "", 0},
        {"empty payload", simtest::MakeFrame("AT", 24, {}), 1, "", 0},
        {"text around", join({Bytes{'h', 'i'}, ss, Bytes{'\r', '\n'}}), 1, "hi\r\n", 0},
        {"wrong checksum", badSum, 0, "$", 1},
        {"recovers after a lone $", join({Bytes{'$', 'x'}, ss}), 1, "$x", 0},
        {"two frames", join({ss, ss}), 2, "", 0},
    };
    for (const Case& c : cases) {
        Collected whole;
        auto reader = MakeReader(whole);
        reader.Feed(c.input.data(), c.input.size());
        EXPECT_EQ(whole.frames.size(), c.frames) << c.name;
        EXPECT_EQ(whole.bad, c.bad) << c.name;
        if (c.bad == 0) {
            EXPECT_EQ(whole.text, c.text) << c.name;
        }

        Collected bytewise;  // the same stream a byte at a time
        auto reader2 = MakeReader(bytewise);
        for (std::uint8_t b : c.input) reader2.Feed(&b, 1);
        EXPECT_EQ(bytewise.frames.size(), c.frames) << c.name << " (byte by byte)";
    }
    Collected one;
    auto reader = MakeReader(one);
    reader.Feed(ss.data(), ss.size());
    ASSERT_EQ(one.frames.size(), 1u);
    EXPECT_TRUE(one.frames[0].Is("SS"));
    EXPECT_EQ(one.frames[0].kind, 0x18);
    EXPECT_EQ(one.frames[0].payload, (Bytes{49, 54}));
}

TEST(SimTexts, VersionRecordFollowsTheTokenRules) {
    qsim::SimOptions o;
    o.serialNumber = "AB123456";
    o.cpuVersion = "6.010";
    o.fpgaVersion = "2.001";
    o.bootVersion = "3.200";
    const std::string record = qsim::VersionRecord(o);
    ASSERT_EQ(record.rfind("GPSCAR", 0), 0u);
    EXPECT_GT(record.size(), 80u);
    const auto t = SplitAtBlanks(record);
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ(t[2], "\"AB123456\"");
    EXPECT_EQ(t[4].substr(1, 5), "6.010");
    EXPECT_EQ(t[4].substr(7, 5), "2.001");
    EXPECT_EQ(t[5], "\"3.200\"");

    o.recordText = "anything\r\n";
    EXPECT_EQ(qsim::VersionRecord(o), "anything\r\n");
}

TEST(SimTexts, LoaderBaudFollowsTheBootVersion) {
    const struct {
        const char* boot;
        int baud;
    } cases[] = {{"3.000", 9600}, {"3.001", 115200}, {"5.100", 115200}, {"9.998", 115200},
                 {"9.999", 9600}, {"2.900", 9600},   {"", 9600},        {"3.0001", 115200}};
    for (const auto& c : cases) EXPECT_EQ(qsim::LoaderBaud(c.boot), c.baud) << c.boot;
}

TEST(SimTexts, IdentificationLayout) {
    qsim::SimOptions o;
    Bytes p = qsim::IdentificationPayload(o);
    std::string s(p.begin(), p.end());
    ASSERT_EQ(s.size(), 32u);
    EXPECT_EQ(s.substr(0, 8), "Q4B1C20 ");
    EXPECT_EQ(s.substr(4, 3), "C20");
    EXPECT_EQ(s.substr(8, 7), "123456 ");
    EXPECT_NE(s[19], '-');
    EXPECT_NE(s[22], '-');

    o.offerBootUpdate = true;
    o.partNumber = "Q4A2C31";
    o.ssReplyLength = 25;
    p = qsim::IdentificationPayload(o);
    s.assign(p.begin(), p.end());
    ASSERT_EQ(s.size(), 25u);
    EXPECT_EQ(s.substr(8, 8), "12345678");
    EXPECT_EQ(s[19], '-');
    EXPECT_EQ(s[22], '-');

    o.ssReplyLength = 24;
    EXPECT_EQ(qsim::IdentificationPayload(o).size(), 24u);
    o.ssReplyLength = 200;
    EXPECT_EQ(qsim::IdentificationPayload(o).size(), 200u);
}

TEST(SimImages, CompareCutsThePadOfTheLastBlock) {
    Bytes expected(300);
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::uint8_t>(i);
    Bytes received = expected;
    received.resize(384, 0xFF);

    auto check = qsim::CompareImage(received, expected);
    EXPECT_TRUE(check.equal);
    EXPECT_EQ(check.pad.size(), 84u);
    EXPECT_EQ(check.receivedSize, 384u);

    received[299] ^= 1;
    check = qsim::CompareImage(received, expected);
    EXPECT_FALSE(check.equal);
    EXPECT_EQ(check.firstDifference, 299u);

    check = qsim::CompareImage(Bytes(expected.begin(), expected.begin() + 256), expected);
    EXPECT_FALSE(check.equal) << "an image cut short";
    EXPECT_EQ(check.firstDifference, 256u);

    received = expected;
    received.resize(300 + 128);
    EXPECT_FALSE(qsim::CompareImage(received, expected).equal) << "a whole block too many";
}
