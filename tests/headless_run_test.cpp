// Whole headless runs in this process: the update engine on a real serial
// link, a pseudo-terminal and the simulated receiver, on a real event loop
// under QCoreApplication. Small images keep them quick; the real program is
// run in headless_cli_test.
#include "headless_run.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>
#include <map>
#include <memory>

#include "firmware.h"
#include "headless_output.h"
#include "imagestore.h"
#include "linkfactory.h"
#include "receiversim.h"
#include "support/temp_settings.h"
#include "updateengine.h"

namespace {

constexpr int kPort = 231;
constexpr int kGuardMs = 60000;  // only against hangs

std::vector<std::uint8_t> TestImage(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 7));
    return v;
}

QString ReadBack(std::FILE* file) {
    std::fflush(file);
    const long size = std::ftell(file);
    QByteArray bytes(size, '\0');
    std::rewind(file);
    const std::size_t n = std::fread(bytes.data(), 1, static_cast<std::size_t>(size), file);
    return QString::fromUtf8(bytes.left(static_cast<qsizetype>(n)));
}

class HeadlessRun : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_out) std::fclose(m_out);
        if (m_err) std::fclose(m_err);
    }

    // The receiver, known as COM231 in this test's settings file.
    void StartSim(qsim::SimOptions o = {}) {
        sim = std::make_unique<qsim::ReceiverSim>(std::move(o));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        settings.MapPort(kPort, QString::fromStdString(sim->DevicePath()));
    }

    // Runs to the end on a real event loop; the exit status. Without test
    // images the program's own are used.
    int Run(HeadlessOptions options = {}) {
        if (options.device.empty()) options.link.m_nComPort = kPort;
        m_out = std::tmpfile();
        m_err = std::tmpfile();
        CHeadlessOutput output(m_out, m_err, false);
        for (auto& [key, bytes] : images) store.Add(key.first, key.second, bytes);
        const CResourceImageStore carried;
        UpdateEngine engine(RealLinks(), CarriedImageConfig(),
                            images.empty() ? static_cast<const IImageStore&>(carried) : store);
        for (const auto& [pn, id] : bootIds) engine.ImageTable().SetBootImage(pn, id);
        CHeadlessRun run(engine, options, output);
        QEventLoop loop;
        QObject::connect(&run, &CHeadlessRun::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(kGuardMs, &loop, &QEventLoop::quit);
        run.Start();
        loop.exec();
        EXPECT_FALSE(engine.IsConnected()) << "the port is closed at the end";
        output.Flush();
        out = ReadBack(m_out);
        err = ReadBack(m_err);
        return run.IsFinished() ? run.ExitCode() : -1;
    }

    TempSettings settings;  // nothing here may touch the user's own
    std::unique_ptr<qsim::ReceiverSim> sim;
    std::map<std::pair<std::string, std::uint16_t>, std::vector<std::uint8_t>> images;
    std::map<std::string, int> bootIds;
    CMemoryImageStore store;
    QString out, err;

private:
    std::FILE* m_out = nullptr;
    std::FILE* m_err = nullptr;
};

}  // namespace

TEST_F(HeadlessRun, CompletedEndsWithZeroAndTheListOnStdout) {
    StartSim();
    const auto image = TestImage(40 * 128 + 17, 2);
    images[{"CPU", 248}] = image;
    HeadlessOptions options;
    // By its path: the run calls it by the number the settings give it.
    options.device = sim->DevicePath();
    EXPECT_EQ(Run(options), kExitCompleted) << err.toStdString();
    EXPECT_TRUE(sim->CheckImage(0, image).equal);
    EXPECT_EQ(sim->Stats().transfersStarted, 1);
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.mid(0, 4),
              (QStringList{"Connected receiver information:", "  SN: Z4A00417",
                           "  sw version: 5.100 - 2.300", "  boot version: 3.100"}));
    EXPECT_TRUE(lines.contains("Your serial port is COM231"));
    EXPECT_EQ(lines.filter(QRegularExpression("^Address: ")), QStringList{"Address: 1480"});
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"Updating Firmware! please wait.............", "Completed!",
                           QString(41, '-')}));
    EXPECT_EQ(err.toStdString(), "");
}

TEST_F(HeadlessRun, TheTimeOutCountsFromTheLastByteNotFromTheStart) {
    qsim::SimOptions o;
    o.pace = true;  // the transfer takes its wire time, several time-outs long
    StartSim(o);
    images[{"CPU", 248}] = TestImage(300 * 128, 9);
    HeadlessOptions options;
    options.timeoutSeconds = 2;
    EXPECT_EQ(Run(options), kExitCompleted) << err.toStdString();
}

TEST_F(HeadlessRun, WithoutAVersionRecordUpdateIsStillGiven) {
    qsim::SimOptions o;
    o.answerVersion = false;
    o.bootVersion = "3.000";  // its loader listens at 9600, as assumed without a record
    StartSim(o);
    images[{"CPU", 248}] = TestImage(300, 4);
    EXPECT_EQ(Run(), kExitCompleted) << err.toStdString();
    EXPECT_EQ(sim->Stats().versionRequests, 4);
    EXPECT_EQ(sim->Stats().completedUpdates, 1);
    EXPECT_FALSE(out.contains("Connected receiver information:"));
}

TEST_F(HeadlessRun, NoRecordAndNoLoaderIsNoAnswer) {
    qsim::SimOptions o;
    o.answerVersion = false;
    o.loaderStartDelayMs = 600000;  // the loader never comes up
    StartSim(o);
    HeadlessOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(Run(options), kExitNoAnswer);
    EXPECT_EQ(sim->Stats().resets, 1) << "Update was given";
    EXPECT_TRUE(err.contains("No answer from the receiver on COM231")) << err.toStdString();
    EXPECT_TRUE(err.contains("within 1 s"));
}

TEST_F(HeadlessRun, ARecordAndThenSilenceIsSilent) {
    qsim::SimOptions o;
    o.loaderStartDelayMs = 600000;
    StartSim(o);
    HeadlessOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(Run(options), kExitSilent);
    EXPECT_TRUE(err.contains("sent nothing for 1 s")) << err.toStdString();
}

TEST_F(HeadlessRun, SilenceDuringTheTransfer) {
    qsim::SimOptions o;
    o.silentAfterBlocks = 10;
    StartSim(o);
    images[{"CPU", 248}] = TestImage(100 * 128, 6);
    HeadlessOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(Run(options), kExitSilent);
    EXPECT_EQ(sim->Stats().positiveAcks, 10);
    EXPECT_TRUE(out.contains("Address: 500")) << "the held address line is printed at the end";
}

TEST_F(HeadlessRun, AHangUpIsReportedAndTheSilenceEndsTheRun) {
    qsim::SimOptions o;
    o.hangUpAfterBlocks = 10;
    StartSim(o);
    images[{"CPU", 248}] = TestImage(100 * 128, 7);
    HeadlessOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(Run(options), kExitSilent);
    EXPECT_TRUE(err.startsWith("Application Error: ")) << err.toStdString();
    EXPECT_TRUE(err.contains("sent nothing for 1 s")) << err.toStdString();
}

TEST_F(HeadlessRun, RepeatedRestartRequestsEndTheRun) {
    qsim::SimOptions o;
    o.forceVx = 10;
    StartSim(o);
    images[{"CPU", 248}] = TestImage(20 * 128, 8);
    HeadlessOptions options;
    options.maxRestarts = 2;
    EXPECT_EQ(Run(options), kExitTooManyRestarts);
    EXPECT_EQ(sim->Stats().vxSent, 3);
    EXPECT_EQ(sim->Stats().transfersStarted, 3) << "two restarts were taken";
    EXPECT_TRUE(err.contains("asked for a restart 3 times (limit 2")) << err.toStdString();
}

TEST_F(HeadlessRun, NoFirmwareForTheModel) {
    qsim::SimOptions o;
    o.partNumber = "Q4B1A10";  // a row of the table without a carried CPU image
    StartSim(o);
    EXPECT_EQ(Run(), kExitNoFirmware);
    EXPECT_EQ(err.toStdString(), "Error: NO CPU firmware for this model: Q4B1A10\n") << "said once";
    EXPECT_EQ(sim->Stats().sxFrames, 0);
}

TEST_F(HeadlessRun, BootAnsweredYesSendsTheBootLoaderOnly) {
    qsim::SimOptions o;
    o.offerBootUpdate = true;
    StartSim(o);
    images[{"BOOT", 7}] = TestImage(300, 5);
    bootIds["Q4B1C20"] = 7;
    HeadlessOptions options;
    options.bootAnswer = true;
    EXPECT_EQ(Run(options), kExitBootSent) << err.toStdString() << out.toStdString();
    const auto stats = sim->Stats();
    EXPECT_EQ(stats.vxSent, 0);
    for (const auto& e : stats.errors) ADD_FAILURE() << e;
    EXPECT_TRUE(out.contains("Update boot? yes"));
    EXPECT_TRUE(out.contains("Prepare updating for Q4B1C20..."));
    EXPECT_EQ(stats.scSent, 1) << "ended on the receiver's report";
    EXPECT_TRUE(err.contains("run again without --boot yes"));
}

TEST_F(HeadlessRun, BootAnsweredNoSendsTheCpuFirmware) {
    qsim::SimOptions o;
    o.offerBootUpdate = true;
    StartSim(o);
    images[{"CPU", 248}] = TestImage(500, 3);
    EXPECT_EQ(Run(), kExitCompleted) << err.toStdString();
    EXPECT_TRUE(out.contains("Update boot? no"));
    EXPECT_EQ(sim->Stats().cpuBlocks, 4);
}

TEST_F(HeadlessRun, PortThatDoesNotOpen) {
    settings.MapPort(kPort, QStringLiteral("/nonexistent/receiver"));
    EXPECT_EQ(Run(), kExitPortNotOpened);
    EXPECT_EQ(err.toStdString(),
              "Cannot open COM231 (/nonexistent/receiver): No such file or directory\n");
}
