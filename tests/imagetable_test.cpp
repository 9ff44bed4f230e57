#include "imagetable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "firmware.h"
#include "imageconfig.h"
#include "imagestore.h"

TEST(ImageConfig, CarriedDataHasTheExpectedShape) {
    const ImageConfig& c = CarriedImageConfig();
    EXPECT_EQ(c.cpuRows.size(), 23u);
    EXPECT_EQ(c.loaderFamily.size(), 4u);
    EXPECT_EQ(c.seriesPrefix.size(), 2u);
    ASSERT_EQ(c.fpgaPrefixes.size(), 21u);
    std::map<std::size_t, int> lengths;
    for (const auto& p : c.fpgaPrefixes) ++lengths[p.size()];
    EXPECT_EQ(lengths, (std::map<std::size_t, int>{{5, 15}, {6, 3}, {7, 3}}));
    std::map<int, int> perId;
    for (const auto& [pn, id] : c.cpuRows) ++perId[id];
    EXPECT_EQ(perId, (std::map<int, int>{{215, 1},
                                         {216, 3},
                                         {217, 2},
                                         {245, 1},
                                         {246, 2},
                                         {248, 1},
                                         {249, 4},
                                         {250, 4},
                                         {251, 2},
                                         {252, 1},
                                         {253, 1},
                                         {254, 1}}));
}

TEST(ImageConfig, MalformedLinesAreRejectedWithTheirNumber) {
    ImageConfig c;
    std::string error;
    EXPECT_FALSE(ParseImageConfig("loader-family Q4B1\nseries Q4\ncpu Q4B1 248\n", &c, &error));
    EXPECT_EQ(error.rfind("line 3", 0), 0u) << error;
    EXPECT_FALSE(ParseImageConfig("loader-family Q4B1\nseries Q4\ncpu Q4B1C20 x\n", &c, &error));
    EXPECT_FALSE(ParseImageConfig("loader-family q4b1\nseries Q4\n", &c, &error));
    EXPECT_FALSE(ParseImageConfig("series Q4\n", &c, &error));
    EXPECT_FALSE(ParseImageConfig("loader-family Q4B1\nseries Q4\nfpga Q4F\n", &c, &error));
    EXPECT_TRUE(
        ParseImageConfig("loader-family Q4B1 # c\nseries Q4\n\ncpu Q4B1C20 248\n", &c, &error))
        << error;
    EXPECT_EQ(c.cpuRows.size(), 1u);
}

TEST(ImageConfig, EveryProblemIsListedWithItsLine) {
    constexpr std::string_view text =
        "loader-family Q4B1\n"
        "cpu Q4B1C20 248 fpga=0\n"
        "cpu Q4B1C21 248 boot=7 boot=8 x\n"
        "cpu Q4B1C20 249\n";
    ImageConfig c;
    std::vector<std::pair<int, std::string>> errors;
    EXPECT_FALSE(ParseImageConfig(text, &c, &errors));
    EXPECT_EQ(errors, (std::vector<std::pair<int, std::string>>{
                          {2, "fpga= image id '0' must be 1..65535"},
                          {3, "boot= given twice"},
                          {3, "'x' is neither fpga=<id> nor boot=<id>"},
                          {4, "part number Q4B1C20 given twice (first on line 2)"},
                          {0, "series is required"}}));
    std::string first;
    EXPECT_FALSE(ParseImageConfig(text, &c, &first));
    EXPECT_EQ(first, "line 2: fpga= image id '0' must be 1..65535");
}

TEST(ImageConfig, VersionsForThePackageAndWhereARowDiffers) {
    constexpr std::string_view head = "loader-family Q4B1\nseries Q4\ncpu Q4B1C20 248\n";
    ImageConfig c;
    std::vector<std::pair<int, std::string>> errors;
    ASSERT_TRUE(ParseImageConfig(std::string(head) + "cpu Q4B1C21 249\n"
                                                     "versions cpu=5.200 fpga=2.400\n"
                                                     "versions Q4B1C21 cpu=5.210\n",
                                 &c, &errors));
    EXPECT_EQ(c.VersionsFor("Q4B1C20"), (FirmwareVersions{"5.200", "2.400", ""}));
    EXPECT_EQ(c.VersionsFor("Q4B1C21"), (FirmwareVersions{"5.210", "2.400", ""}));
    EXPECT_FALSE(c.CommonVersions());
    EXPECT_FALSE(ParseImageConfig(std::string(head) + "versions cpu=5.2 cpu=5.3 gps=1 boot=a/b\n"
                                                      "versions cpu=5.2\n"
                                                      "versions Q4B1C99 cpu=5.2\n",
                                  &c, &errors));
    EXPECT_EQ(errors, (std::vector<std::pair<int, std::string>>{
                          {4, "cpu= given twice"},
                          {4, "'gps=1' is none of cpu=, fpga=, boot="},
                          {4, "boot version 'a/b' is not 1 to 16 letters, digits, '.', '-' or '_'"},
                          {5, "versions given twice (first on line 4)"},
                          {6, "versions for Q4B1C99, which has no cpu row"}}));
}

TEST(ImageTable, CpuRowsMayNameFpgaAndBootImages) {
    ImageConfig c;
    c.cpuRows = {{"Q4FA0K1", 250}, {"Q4FA0K2", 250}};
    c.fpgaRows = {{"Q4FA0K1", 12}};
    c.bootRows = {{"Q4FA0K2", 7}};
    CImageTable t;
    t.BuildImageTable(c);
    EXPECT_EQ(t.GetFpgaImage("Q4FA0K1"), 12);
    EXPECT_EQ(t.GetBootImage("Q4FA0K1"), 0);
    EXPECT_EQ(t.GetFpgaImage("Q4FA0K2"), 0);
    EXPECT_EQ(t.GetBootImage("Q4FA0K2"), 7);
}

TEST(ImageTable, LookupsFollowTheConfiguredRows) {
    CImageTable t;
    t.BuildImageTable(CarriedImageConfig());
    EXPECT_EQ(t.size(), 23u);
    EXPECT_EQ(t.GetCpuImage("Q4B1C20"), 248);
    // Unknown part: 0, and the inserted entry keeps answering 0.
    EXPECT_EQ(t.GetCpuImage("Q4ZZZZZ"), 0);
    EXPECT_EQ(t.size(), 24u);
    EXPECT_EQ(t.GetCpuImage("Q4ZZZZZ"), 0);
    EXPECT_EQ(t.size(), 24u);
    // Case matters; a short part number padded by "%7s" matches nothing.
    EXPECT_EQ(t.GetCpuImage("q4b1c20"), 0);
    EXPECT_EQ(t.GetCpuImage(" Q4B1C2"), 0);
    for (const auto& [pn, id] : CarriedImageConfig().cpuRows) {
        EXPECT_EQ(t.GetBootImage(pn), 0) << pn;
        EXPECT_EQ(t.GetFpgaImage(pn), 0) << pn;
    }
    t.SetCpuImage("Q4B1C20", 249);
    EXPECT_EQ(t.GetCpuImage("Q4B1C20"), 249) << "a second set replaces";
}

TEST(ImageStore, CarriesExactlyTheCpuContainer) {
    CResourceImageStore store;
    ImageBytes cpu = store.Find("CPU", 248);
    ASSERT_EQ(cpu.size(), 2937712u);
    EXPECT_EQ(cpu[0], 0xEE);
    EXPECT_EQ(cpu[1], 0xBE);
    EXPECT_EQ(cpu[2], 0xAD);
    EXPECT_EQ(cpu[3], 0xDE);
    EXPECT_EQ(store.Find("CPU", 248).data(), cpu.data()) << "the same bytes every time, not a copy";
    for (int id : {215, 216, 217, 245, 246, 249, 250, 251, 252, 253, 254})
        EXPECT_TRUE(store.Find("CPU", static_cast<std::uint16_t>(id)).empty()) << id;
    EXPECT_TRUE(store.Find("FPGA", 248).empty());
    EXPECT_TRUE(store.Find("BOOT", 248).empty());
    EXPECT_TRUE(store.Find("cpu", 248).empty());
}

TEST(ImageStore, PartNumbersSharingAnIdYieldTheSameImage) {
    CImageTable t;
    t.BuildImageTable(CarriedImageConfig());
    CMemoryImageStore store;
    store.Add("CPU", 216, {1, 2, 3});
    ImageBytes a = store.Find("CPU", static_cast<std::uint16_t>(t.GetCpuImage("Q4B1A20")));
    ImageBytes b = store.Find("CPU", static_cast<std::uint16_t>(t.GetCpuImage("Q4B1A22")));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a.data(), b.data());
    EXPECT_TRUE(store.Find("CPU", 0).empty());
}
