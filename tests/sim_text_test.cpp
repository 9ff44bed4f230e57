// The simulated receiver's text dialect and its restart into the loader, on a
// real pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "receiversim.h"
#include "sim_client.h"
#include "sim_rig.h"
#include "simtexts.h"

using namespace std::chrono_literals;
using simtest::Bytes;
using simtest::Client;
using simtest::Rig;

namespace {

const char kInterface[] = "interfacemode quorvex quorvex on\r\nunlogall\r\n";  // + NUL below
const char kLogVersion[] = "log version\r\n";

std::string WithNul(const char* text) {
    return std::string(text) + std::string(1, '\0');
}

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

}  // namespace

TEST(SimText, AnswersLogVersionWithARecordThatParses) {
    qsim::SimOptions o;
    o.serialNumber = "QX000123";
    o.cpuVersion = "5.210";
    o.fpgaVersion = "2.040";
    o.bootVersion = "3.150";
    Rig rig(o);
    rig.client->Write(WithNul(kInterface));
    rig.client->Write(WithNul(kLogVersion));
    std::string record = rig.client->ReadText("\r\n");

    ASSERT_EQ(record.rfind("GPSCAR", 0), 0u) << record;
    EXPECT_GT(record.size(), 81u) << "GPSCAR must start more than 80 characters before the end";
    const auto t = SplitAtBlanks(record);
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ(t[2].substr(1, 8), "QX000123");
    EXPECT_EQ(t[4].substr(1, 5), "5.210");
    EXPECT_EQ(t[4].substr(7, 5), "2.040");
    EXPECT_EQ(t[5].substr(1, 5), "3.150");
    EXPECT_EQ(t[5], "\"3.150\"");

    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.interfaceCommands, 1);
    EXPECT_EQ(s.unlogallCommands, 1);
    EXPECT_EQ(s.versionRequests, 1);
    EXPECT_EQ(s.mode, qsim::SimMode::Firmware);
}

TEST(SimText, NoiseAndPiecesArriveInOrder) {
    qsim::SimOptions o;
    o.noiseBefore = "<OK\r\n[COM1]";
    o.noiseAfter = "\r\n<tail noise>\r\n";
    o.recordPieces = 7;
    o.recordPieceGapMs = 2;
    Rig rig(o);
    rig.client->Write(kLogVersion);
    const std::string got = rig.client->ReadText("<tail noise>\r\n");
    EXPECT_EQ(got, o.noiseBefore + qsim::VersionRecord(o) + o.noiseAfter);
}

TEST(SimText, SilentReceiverCountsButNeverAnswers) {
    qsim::SimOptions o;
    o.answerVersion = false;
    o.loaderStartDelayMs = 0;
    Rig rig(o);
    for (int i = 0; i < 4; ++i) rig.client->Write(WithNul(kLogVersion));
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.versionRequests == 4; }));
    // Whatever arrives first after this must be the loader's answer, not a record.
    rig.client->Write("\r\n\r\nreset\r\n");
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.loaderStarts == 1; }));
    rig.client->SendFrame("SS", 24, {49, 54});
    const auto f = rig.client->ReadFrame();
    EXPECT_EQ(f.type, "SS");
    EXPECT_TRUE(rig.client->Skipped().empty()) << "text arrived before the frame";
    EXPECT_EQ(rig.sim.Stats().versionAnswers, 0);
}

TEST(SimText, BytesAtTheWrongSpeedAreDropped) {
    Rig rig;
    rig.client->SetBaud(9600);
    rig.client->Write(kLogVersion);
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.ignoredBytes >= 13; }));
    rig.client->SetBaud(115200);
    rig.client->Write(kLogVersion);
    EXPECT_EQ(rig.client->ReadText("\r\n").rfind("GPSCAR", 0), 0u);
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.versionRequests, 1);
    EXPECT_EQ(s.lineSpeeds, (std::vector<int>{9600, 115200}));
}

// The loader's speed follows the boot version: the host resets at 115200 and
// then polls at the loader's speed.
class SimLoaderBaud : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(SimLoaderBaud, LoaderListensAtTheSpeedItsBootVersionGives) {
    qsim::SimOptions o;
    o.bootVersion = GetParam().first;
    const int baud = GetParam().second;
    const int other = baud == 9600 ? 115200 : 9600;
    Rig rig(o);
    rig.client->Write("\r\n\r\nreset\r\n");
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.mode == qsim::SimMode::Loader; }));
    EXPECT_EQ(rig.sim.Stats().listenBaud, baud);

    const auto before = rig.sim.Stats().ignoredBytes;
    rig.client->SetBaud(other);
    rig.client->SendFrame("SS", 24, {49, 54});
    ASSERT_TRUE(
        rig.Wait([before](const qsim::SimStats& s) { return s.ignoredBytes >= before + 11; }));
    EXPECT_EQ(rig.sim.Stats().ssPolls, 0);

    rig.client->SetBaud(baud);
    rig.client->SendFrame("SS", 24, {49, 54});
    const auto f = rig.client->ReadFrame();
    EXPECT_EQ(f.type, "SS");
    EXPECT_EQ(f.kind & 0x08, 0);
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.ssPolls, 1);
    EXPECT_EQ(s.resets, 1);
}

INSTANTIATE_TEST_SUITE_P(BootVersions, SimLoaderBaud,
                         ::testing::Values(std::make_pair("3.000", 9600),
                                           std::make_pair("3.001", 115200),
                                           std::make_pair("9.999", 9600)));

TEST(SimText, UsbRebootTextRestartsIntoTheLoader) {
    Rig rig;
    rig.client->Write(WithNul("\r\n\r\ntst usbcmdreset\r\nreset\r\n"));
    ASSERT_TRUE(rig.Wait([](const qsim::SimStats& s) { return s.loaderStarts == 1; }));
    const auto s = rig.sim.Stats();
    EXPECT_EQ(s.usbResetCommands, 1);
    EXPECT_EQ(s.resets, 1);
}

TEST(SimText, BytesWhileRestartingAreDropped) {
    qsim::SimOptions o;
    o.loaderStartDelayMs = 60000;  // the loader never comes up within this test
    Rig rig(o);
    rig.client->Write("\r\n\r\nreset\r\n");
    ASSERT_TRUE(
        rig.Wait([](const qsim::SimStats& s) { return s.mode == qsim::SimMode::Restarting; }));
    const auto before = rig.sim.Stats().ignoredBytes;
    rig.client->SendFrame("SS", 24, {49, 54});
    ASSERT_TRUE(
        rig.Wait([before](const qsim::SimStats& s) { return s.ignoredBytes >= before + 11; }));
    EXPECT_EQ(rig.sim.Stats().ssPolls, 0);
}

TEST(SimText, LinkPointsAtTheDeviceWhileRunning) {
    const std::string link = ::testing::TempDir() + "/sim_text_link";
    qsim::SimOptions o;
    o.linkPath = link;
    {
        Rig rig(o);
        char target[256] = {};
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        ASSERT_GT(n, 0);
        EXPECT_EQ(std::string(target), rig.sim.DevicePath());
        Client viaLink(link);
        viaLink.Write(kLogVersion);
        EXPECT_EQ(viaLink.ReadText("\r\n").rfind("GPSCAR", 0), 0u);
    }
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the simulator";
}
