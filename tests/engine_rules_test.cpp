// The plain-code parts of identification and transfer: version record,
// loader identification, block source, FPGA decision and the boot-image
// serial patch.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "blocksource.h"
#include "crc32.h"
#include "identifyreply.h"
#include "transferrules.h"
#include "versionrecord.h"

namespace {

std::string Record(const std::string& fields) {
    // Enough text after the record that "GPSCAR" starts more than 80 characters before the end.
    return "noise\r\n" + fields +
           " \"trailing-field-one\" \"trailing-field-two\" \"trailing-field-three\"\r\n";
}

const std::string kGood =
    "GPSCARD \"Z4\" \"A1234567\" \"OEM\" \"5.100-2.300\" \"3.100\" \"ok\" \"2026-01-01\"";

}  // namespace

TEST(VersionRecord, ParsesTheFixedPositions) {
    VersionRecord r;
    ASSERT_TRUE(ParseVersionRecord(Record(kGood), &r));
    EXPECT_STREQ(r.sn, "A1234567");
    EXPECT_STREQ(r.cpu, "5.100");
    EXPECT_STREQ(r.fpga, "2.300");
    EXPECT_STREQ(r.boot, "3.100");
    EXPECT_TRUE(r.loader115200);
}

TEST(VersionRecord, BootVersionBoundsForThe115200Loader) {
    struct Row {
        const char* boot;
        bool loader115200;
    } rows[] = {
        {"3.000", false}, {"3.001", true}, {"9.998", true}, {"9.999", false}, {"2.500", false}};
    for (const auto& row : rows) {
        std::string fields = kGood;
        fields.replace(fields.find("3.100"), 5, row.boot);
        VersionRecord r;
        ASSERT_TRUE(ParseVersionRecord(Record(fields), &r)) << row.boot;
        EXPECT_EQ(r.loader115200, row.loader115200) << row.boot;
    }
}

TEST(VersionRecord, NeedsEightyCharactersAfterTheTag) {
    const std::string text = kGood + "\r\n";
    ASSERT_LE(text.size(), 81u);
    VersionRecord r;
    EXPECT_FALSE(ParseVersionRecord(text, &r));
    EXPECT_TRUE(ParseVersionRecord(text + std::string(81 - text.size() + 1, 'x'), &r));
}

TEST(VersionRecord, TwoBlanksShiftTheTokens) {
    std::string fields = kGood;
    fields.replace(fields.find(" \"A1"), 1, "  ");  // empty token before the serial
    VersionRecord r;
    ASSERT_TRUE(ParseVersionRecord(Record(fields), &r));
    EXPECT_STREQ(r.sn, "") << "token 2 is now the empty one";
    EXPECT_STREQ(r.boot, "5.100");
}

TEST(VersionRecord, ShortUnquotedAndBinaryTokensNeverReadPastTheirEnd) {
    // Tokens cut short: the copies take what the token has and no more.
    VersionRecord r;
    ASSERT_TRUE(ParseVersionRecord(Record("GPSCAR a \"12\" b \"5\" \"3"), &r));
    EXPECT_STREQ(r.sn, "12\"");
    EXPECT_STREQ(r.cpu, "5\"");
    EXPECT_STREQ(r.fpga, "");
    EXPECT_STREQ(r.boot, "3");
    std::string binary = "GPSCAR \x01 \xff\xfe \x00\x00 ";
    binary.append(std::string("\x80\x90\xA0", 3)).append(" \x7f ");
    binary.append(100, '\xEE');
    EXPECT_TRUE(ParseVersionRecord(binary, &r));
    // A record that ends before token 5 is not a record.
    EXPECT_FALSE(ParseVersionRecord("GPSCAR a b c" + std::string(100, 'x'), &r));
}

TEST(IdentifyReply, FieldsWidthsAndBootOffer) {
    std::string p = "Q4B1C20 123456----------------";
    p[19] = '-';
    p[22] = '-';
    auto r = ParseIdentifyReply(reinterpret_cast<const std::uint8_t*>(p.data()), 25, "Q4B1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->partNumber, "Q4B1C20");
    EXPECT_EQ(r->tail, "C20");
    EXPECT_EQ(r->serial, "123456") << "loader family: 6 characters";
    EXPECT_TRUE(r->bootOffered);

    p[22] = 'x';
    r = ParseIdentifyReply(reinterpret_cast<const std::uint8_t*>(p.data()), 25, "Q4B1");
    EXPECT_FALSE(r->bootOffered) << "'-' at 19 alone offers nothing";

    std::string other = "Q4A2C30 AB123456 xxxxxxxxxxxxxx";
    r = ParseIdentifyReply(reinterpret_cast<const std::uint8_t*>(other.data()), 25, "Q4B1");
    EXPECT_EQ(r->serial, "AB123456") << "outside the family: 8 characters";
    EXPECT_FALSE(
        ParseIdentifyReply(reinterpret_cast<const std::uint8_t*>(other.data()), 24, "Q4B1"));
}

TEST(IdentifyReply, ShortValuesAreRightAlignedWithBlanks) {
    std::string p("AB1 C\0  9 xxxxxxxxxxxxxxxxxxxxxxxx", 34);
    auto r = ParseIdentifyReply(reinterpret_cast<const std::uint8_t*>(p.data()), 25, "Q4B1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->partNumber, "    AB1");
    EXPECT_EQ(r->tail, "  C");
    EXPECT_EQ(r->serial, "       9");
    // A payload of blanks only: the scan finds nothing and stays in bounds.
    std::vector<std::uint8_t> blanks(25, ' ');
    r = ParseIdentifyReply(blanks.data(), 25, "Q4B1");
    EXPECT_EQ(r->partNumber, "       ");
}

namespace {

struct Sent {
    std::uint8_t kind;
    std::uint32_t b2, offset;
    std::vector<std::uint8_t> block;
};

// Runs the block source the way the view does, recording every block.
std::vector<Sent> RunSource(CTransferState s) {
    s.m_nPos = 0;
    std::vector<Sent> sent;
    std::uint8_t kind = 24, block[128];
    bool first = true;
    for (;;) {
        const std::uint32_t b2 = s.m_nAddress >> 8;
        if (GetNextBlock(s, &kind, block) == 0) break;
        if (first) s.m_nAddress = 0;
        sent.push_back({kind, first ? 0 : b2, s.m_nAddress, {block, block + 128}});
        s.m_nAddress += 128;
        first = false;
    }
    EXPECT_EQ(GetNextBlock(s, &kind, block), 0u) << "stays at the end";
    return sent;
}

CTransferState Image(const std::vector<std::uint8_t>& first,
                     const std::vector<std::uint8_t>* second = nullptr) {
    CTransferState s;
    s.m_pImage = first.data();
    s.m_nImageSize = static_cast<std::uint32_t>(first.size());
    s.m_nTotalSize = s.m_nImageSize;
    if (second) {
        s.m_bHasFpga = true;
        s.m_pSecondImage = second->data();
        s.m_nTotalSize += static_cast<std::uint32_t>(second->size());
    }
    return s;
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), seed);
    return v;
}

}  // namespace

TEST(BlockSource, A256ByteImageTakesTwoBlocksAndTheChecksumBlock) {
    auto image = Bytes(256, 1);
    auto sent = RunSource(Image(image));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].kind, 21);
    EXPECT_EQ(sent[1].kind, 21);
    EXPECT_EQ(sent[1].offset, 0x80u);
    EXPECT_EQ(sent[2].kind, 17);
    EXPECT_EQ(sent[2].offset, 0x100u);
    std::uint32_t crc = UpdateCrc(image.data(), 128, 0);
    crc = UpdateCrc(image.data() + 128, 128, crc);
    EXPECT_EQ(sent[2].block[0], crc & 0xFF) << "least significant byte first";
    EXPECT_EQ(sent[2].block[3], crc >> 24);
    EXPECT_EQ(sent[2].block[4], kPadByte);
}

TEST(BlockSource, A300ByteImagePadsItsLastBlockAndCountsThePad) {
    auto image = Bytes(300, 7);
    CTransferState s = Image(image);
    std::uint8_t kind = 0, block[128];
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GetNextBlock(s, &kind, block), 128u);
        all.insert(all.end(), block, block + 128);
    }
    EXPECT_EQ(s.m_nProgress, 384u) << "pad bytes are taken too";
    EXPECT_TRUE(std::equal(image.begin(), image.end(), all.begin()));
    EXPECT_EQ(std::count(all.begin() + 300, all.end(), kPadByte), 84);
    std::uint32_t chained = 0;
    for (int i = 0; i < 3; ++i) chained = UpdateCrc(all.data() + 128 * i, 128, chained);
    EXPECT_EQ(s.m_nCrc, chained) << "chained over blocks as sent";
    auto sent = RunSource(Image(image));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].kind, 17);
    EXPECT_EQ(sent[3].offset, 0x180u);
}

TEST(BlockSource, FpgaBlocksFollowWithKind20AndTheirOwnOffsets) {
    auto cpu = Bytes(300, 1), fpga = Bytes(200, 2);
    auto sent = RunSource(Image(cpu, &fpga));
    ASSERT_EQ(sent.size(), 3u + 2u + 1u);
    EXPECT_EQ(sent[3].kind, 20);
    EXPECT_EQ(sent[3].offset, 0u);
    EXPECT_EQ(sent[3].b2, 0x180u >> 8) << "B2 carries the address after the CPU image";
    EXPECT_EQ(sent[4].kind, 20);
    EXPECT_EQ(sent[4].offset, 0x80u);
    EXPECT_EQ(sent[5].kind, 17);
    EXPECT_EQ(sent[5].offset, 0x100u);
}

TEST(BlockSource, EmptyImagesSendOnlyTheChecksumBlock) {
    // Empty second image: the checksum block follows the first image's last block.
    auto cpu = Bytes(256, 1), none = std::vector<std::uint8_t>{};
    auto sent = RunSource(Image(cpu, &none));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].kind, 17);
    EXPECT_EQ(sent[2].offset, 0x100u);
    // No image at all: one checksum block with the value 0.
    sent = RunSource(Image(none));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, 17);
    EXPECT_EQ(sent[0].block[0] | sent[0].block[1] | sent[0].block[2] | sent[0].block[3], 0);
}

TEST(TransferRules, FpgaDecision) {
    const std::vector<std::string> prefixes = {"Q4FA0", "Q4B1D2", "Q4B1E20"};
    EXPECT_TRUE(DecideFpga("2.000", "3.399", "Q4B1C20", prefixes)) << "old FPGA, old boot";
    EXPECT_FALSE(DecideFpga("2.001", "3.399", "Q4B1C20", prefixes));
    EXPECT_FALSE(DecideFpga("2.000", "3.400", "Q4B1C20", prefixes));
    EXPECT_FALSE(DecideFpga("2.000", "", "Q4B1C20", prefixes)) << "empty boot: list alone";
    EXPECT_TRUE(DecideFpga("2.000", "", "Q4B1D21", prefixes));
    EXPECT_TRUE(DecideFpga("", "", "Q4B1E20", prefixes)) << "7-character prefix";
    EXPECT_FALSE(DecideFpga("", "", "Q4B1E2", prefixes)) << "shorter than the prefix";
    EXPECT_FALSE(DecideFpga("5.000", "4.000", "q4fa0xx", prefixes)) << "case matters";
}

TEST(TransferRules, BootSerialPatchTouchesTheFirstRecordOnly) {
    std::vector<std::uint8_t> image(200, '.');
    auto place = [&](std::size_t at) {
        std::copy_n("Q4B1", 4, image.begin() + static_cast<long>(at));
        image[at + 16] = '/';
        image[at + 19] = '/';
    };
    place(40);
    place(100);
    auto original = image;
    EXPECT_EQ(PatchBootSerial(image, "Q4B1", "654321", "C20"), 40);
    EXPECT_EQ(std::string(image.begin() + 45, image.begin() + 51), "654321");
    EXPECT_EQ(std::string(image.begin() + 63, image.begin() + 66), "C20");
    EXPECT_TRUE(std::equal(image.begin() + 66, image.end(), original.begin() + 66))
        << "second record untouched";

    // A record that starts in the last 32 bytes is not searched.
    std::vector<std::uint8_t> tail(200, '.');
    std::copy_n("Q4B1", 4, tail.begin() + 168);
    tail[184] = tail[187] = '/';
    auto before = tail;
    EXPECT_EQ(PatchBootSerial(tail, "Q4B1", "654321", "C20"), -1);
    EXPECT_EQ(tail, before);

    // A short serial writes what it has; the rest keeps the image's bytes.
    std::vector<std::uint8_t> shortOne = original;
    EXPECT_EQ(PatchBootSerial(shortOne, "Q4B1", "12", "X"), 40);
    EXPECT_EQ(std::string(shortOne.begin() + 45, shortOne.begin() + 51), "12....");
    EXPECT_EQ(std::string(shortOne.begin() + 63, shortOne.begin() + 66), "X..");
    std::vector<std::uint8_t> tiny(20, 'Q');
    EXPECT_EQ(PatchBootSerial(tiny, "Q4B1", "123456", "ABC"), -1);
}
