// Frame encoder: text commands with B/W/L/S tokens into frames, and back
// through the parser; blocks into the frames their text would give.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "codec_recorder.h"
#include "frameencoder.h"
#include "navformat.h"

using namespace codec_test;

namespace {

Bytes Frame(const EncodedFrame& f) {
    return Bytes(f.data(), f.data() + f.size);
}

Bytes PayloadOf(const EncodedFrame& f) {
    return Bytes(f.data() + 6, f.data() + 6 + f.bytes[5]);
}

// Frame shape every encoding must have, whatever the text.
void ExpectWellFormed(const EncodedFrame& f, std::uint8_t kind) {
    ASSERT_GE(f.size, 9u);
    ASSERT_LE(f.size, f.bytes.size());
    EXPECT_EQ(f.bytes[0], 0x24);
    EXPECT_EQ(f.bytes[1], 0x24);
    EXPECT_EQ(f.bytes[4], kind);
    EXPECT_EQ(f.bytes[5], f.size - 9);
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size - 3; ++i) x ^= f.bytes[i];
    EXPECT_EQ(f.bytes[f.size - 3], x);
    EXPECT_EQ(f.bytes[f.size - 2], 0x0D);
    EXPECT_EQ(f.bytes[f.size - 1], 0x0A);
}

std::string Printf(const char* format, int a, int b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

TEST(Encode, PollingCommandCarriesItsTwoValues) {
    const EncodedFrame f = EncodeCommand(Printf("SS, B%d,B%d,", 49, 54), 24);
    const std::uint8_t x = 'S' ^ 'S' ^ 24 ^ 2 ^ 49 ^ 54;
    EXPECT_EQ(Frame(f), (Bytes{'$', '$', 'S', 'S', 24, 2, 49, 54, x, 0x0D, 0x0A}));
}

TEST(Encode, StartCommandIsANineByteFrame) {
    for (std::uint8_t kind : {17, 20, 21, 24}) {
        const EncodedFrame f = EncodeCommand("AT", kind);
        EXPECT_EQ(Frame(f), (Bytes{'$', '$', 'A', 'T', kind, 0,
                                   static_cast<std::uint8_t>('A' ^ 'T' ^ kind), 0x0D, 0x0A}))
            << int(kind);
    }
}

// One row per rule: the text after the type letters, and the payload it gives.
struct TokenCase {
    const char* name;
    std::string text;
    Bytes payload;
};

class Tokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(Tokens, GiveTheirPayload) {
    const EncodedFrame f = EncodeCommand(GetParam().text, 21);
    ExpectWellFormed(f, 21);
    EXPECT_EQ(PayloadOf(f), GetParam().payload) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Codec, Tokens,
    ::testing::Values(
        TokenCase{"WordLowByteFirst", "SX, W258", {0x02, 0x01}},
        TokenCase{"LongLowByteFirst", "SX, L305419896", {0x78, 0x56, 0x34, 0x12}},
        TokenCase{"LongAboveIntMax", "SX, L4294967295", {0xFF, 0xFF, 0xFF, 0xFF}},
        TokenCase{"LowerCaseTokens", "SX, b7, w1, l2", {7, 1, 0, 2, 0, 0, 0}},
        TokenCase{"ByteKeepsLowEightBits", "SX, B300, B256, B255", {0x2C, 0x00, 0xFF}},
        TokenCase{"NegativeByte", "SX, B-1, B-128, B-200", {0xFF, 0x80, 0x38}},
        TokenCase{"NegativeWord", "SX, W-2", {0xFE, 0xFF}},
        TokenCase{"NegativeLong", "SX, L-1", {0xFF, 0xFF, 0xFF, 0xFF}},
        TokenCase{"PlusSignAndBlanksBeforeTheNumber", "SX, B+5, B  6, B\t7", {5, 6, 7}},
        TokenCase{"ZeroValues", "SX, B0, W0, L0", {0, 0, 0, 0, 0, 0, 0}},
        TokenCase{"NoNumberAddsNoByte", "SX, Bx, W, L-, B+", {}},
        TokenCase{"NoNumberKeepsTheSeparator", "SX, BxB6", {6}},
        TokenCase{"NoNumberThenNextToken", "SX, Bz, B9", {9}},
        TokenCase{"TokenAtTheVeryEnd", "SX, B1, B", {1}},
        TokenCase{"StringAtTheVeryEnd", "SX, B1, S", {1}},
        TokenCase{"TokenNeedsASeparatorBeforeIt", "SX,B1B2", {1}},
        TokenCase{"NoSeparatorAfterTheLetters", "SXB1", {}},
        TokenCase{"BlankIsASeparator", "SX B1 B2", {1, 2}},
        TokenCase{"RepeatedSeparators", "SX, ,, B1 ,, B2", {1, 2}},
        TokenCase{"DigitsAfterANumberAreSkipped", "SX, B12x34, B5", {12, 5}},
        TokenCase{"OtherCharactersKeepTheSeparator", "SX, 7#B1, QB2", {1, 2}},
        TokenCase{"StringCopiesTheRest", "SX, B1, Sab, B2", {1, 'a', 'b', ',', ' ', 'B', '2'}},
        TokenCase{"LowerCaseString", "SX, sxyz", {'x', 'y', 'z'}}, TokenCase{"NoTokens", "SX", {}},
        TokenCase{"OnlySeparators", "SX, , ,", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The letters phase: only ASCII letters count until two have been written.
struct LettersCase {
    const char* name;
    std::string text;
    std::uint8_t t1, t2;
    Bytes payload;
};

class Letters : public ::testing::TestWithParam<LettersCase> {};

TEST_P(Letters, FillOffsetsTwoAndThree) {
    const EncodedFrame f = EncodeCommand(GetParam().text, 20);
    ExpectWellFormed(f, 20);
    EXPECT_EQ(f.bytes[2], GetParam().t1);
    EXPECT_EQ(f.bytes[3], GetParam().t2);
    EXPECT_EQ(PayloadOf(f), GetParam().payload);
}

INSTANTIATE_TEST_SUITE_P(
    Codec, Letters,
    ::testing::Values(LettersCase{"Plain", "VX", 'V', 'X', {}},
                      LettersCase{"OtherCharactersSkipped", "1 S-X, B3", 'S', 'X', {3}},
                      LettersCase{"LowerCaseKept", "sx, B3", 's', 'x', {3}},
                      // No two letters: the decision is a frame with zero type bytes.
                      LettersCase{"OneLetter", "S", 'S', 0, {}}, LettersCase{"Empty", "", 0, 0, {}},
                      LettersCase{"LettersOnlyFromTheTextsStart", "12, B3", 'B', 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The block's text command as the transfer wrote it: "SX, B%d, B%d, B%d,
// B%d, B%d", then ",B%d" for each byte, values in decimal.
std::string BlockText(std::uint32_t b2, std::uint32_t offset, const Bytes& block) {
    std::string text = "SX, B0, B0, B" + std::to_string(b2) + ", B" + std::to_string(offset >> 8) +
                       ", B" + std::to_string(offset % 256);
    for (std::uint8_t b : block) text += ",B" + std::to_string(b);
    return text;
}

TEST(Encode, BlockFrameHoldsHeaderAndBlock) {
    Bytes block(128);
    for (int i = 0; i < 128; ++i) block[i] = static_cast<std::uint8_t>(i * 37 + 11);
    // Beyond 64 KiB of image the address bytes keep their low 8 bits.
    const EncodedFrame f = EncodeBlockFrame(21, 0x2CD, 0x2CD80, block.data());
    ASSERT_EQ(f.size, 142u);
    ExpectWellFormed(f, 21);
    EXPECT_EQ(f.bytes[2], 'S');
    EXPECT_EQ(f.bytes[3], 'X');
    Bytes want{0, 0, 0xCD, 0xCD, 0x80};
    want.insert(want.end(), block.begin(), block.end());
    EXPECT_EQ(PayloadOf(f), want);
}

TEST(Encode, BlockFrameIsTheFrameOfTheBlocksText) {
    struct Row {
        std::uint8_t kind;
        std::uint32_t b2, offset;
    };
    std::vector<Row> rows = {{21, 0, 0},           {21, 0x1C, 0x1D80},         {20, 0x2CD, 0},
                             {17, 0x2CD, 0x2CD80}, {21, 0xFFFFFF, 0xFFFFFF80}, {24, ~0u, ~0u}};
    std::mt19937 rng(19);
    for (int i = 0; i < 3000; ++i) {
        // Mostly addresses an image can have, some of any value.
        const std::uint32_t mask = i % 4 == 0 ? ~0u : 0xFFFFFFu;
        rows.push_back({static_cast<std::uint8_t>(rng()), static_cast<std::uint32_t>(rng()) & mask,
                        static_cast<std::uint32_t>(rng()) & (mask << 7)});
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        Bytes block(128, i == 0 ? 0x00 : 0xFF);
        if (i > 1)
            for (auto& b : block) b = static_cast<std::uint8_t>(rng());
        const Bytes direct = Frame(EncodeBlockFrame(r.kind, r.b2, r.offset, block.data()));
        ASSERT_EQ(direct, Frame(EncodeCommand(BlockText(r.b2, r.offset, block), r.kind)))
            << "row " << i << " kind " << int(r.kind) << " b2 " << r.b2 << " offset " << r.offset;
    }
}

TEST(Encode, TextLongerThanAFrameFillsOneFrame) {
    std::string words = "SX", text = "SX, S" + std::string(300, 'a');
    for (int i = 0; i < 200; ++i) words += ", W65535";
    ExpectWellFormed(EncodeCommand(words, 21), 21);
    ExpectWellFormed(EncodeCommand(text, 21), 21);
    EXPECT_EQ(PayloadOf(EncodeCommand(words, 21)), Bytes(255, 0xFF));
    EXPECT_EQ(PayloadOf(EncodeCommand(text, 21)), Bytes(255, 'a'));
}

// --- round trip -----------------------------------------------------------------

TEST(Encode, FramesReadBackThroughTheParser) {
    struct Row {
        std::string text;
        const char* handler;
        Bytes payload;
    };
    const Row rows[] = {
        {"SS, B49,B54,", "SS", {49, 54}},
        {"AT", "AT", {}},
        {"SX, B1", "SX", {1}},
        {"SX, W258, L-2, Sok", "SX", {2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 'o', 'k'}},
        {"SV", "SV", {}},
        {"VX", "VX", {}},
    };
    for (std::uint8_t kind : {17, 20, 21}) {
        for (const Row& r : rows) {
            CQuillmereNavFormat parser;
            RecordingHandler handler;
            const EncodedFrame f = EncodeCommand(r.text, kind);
            EXPECT_EQ(Feed(parser, handler, Frame(f)), 1) << r.text;
            EXPECT_EQ(parser.Kind(), kind);
            const Bytes want = r.handler == std::string("SS") || r.handler == std::string("SX")
                                   ? r.payload
                                   : Bytes{};
            EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{r.handler, want}})) << r.text;
        }
    }
}

TEST(Encode, RandomByteCommandsReadBackUnchanged) {
    std::mt19937 rng(20240611);
    CQuillmereNavFormat parser;  // one parser for the whole stream, as in the program
    RecordingHandler handler;
    for (int round = 0; round < 2000; ++round) {
        const std::size_t n = rng() % 55;  // single-frame messages
        Bytes payload;
        std::string text = "SX";
        for (std::size_t i = 0; i < n; ++i) {
            const int v = static_cast<int>(rng() % 512) - 256;
            text += (rng() % 2 ? ", B" : ",b") + std::to_string(v);
            payload.push_back(static_cast<std::uint8_t>(v));
        }
        const EncodedFrame f = EncodeCommand(text, 21);
        ASSERT_EQ(f.size, n + 9);
        ASSERT_EQ(Feed(parser, handler, Frame(f)), 1) << text;
        ASSERT_EQ(handler.calls.back(), (Dispatch{"SX", payload})) << text;
    }
}
