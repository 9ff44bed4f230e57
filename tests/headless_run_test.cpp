// Whole headless runs in this process: the firmware package, the update
// engine on a real serial link, a pseudo-terminal and the simulated receiver,
// on a real event loop under QCoreApplication. Small package images keep them
// quick; the real program is run in headless_cli_test. The run logs those
// runs leave are checked here too.
#include "headless_run.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "datafolders.h"
#include "firmware.h"
#include "headless_output.h"
#include "history.h"
#include "linkfactory.h"
#include "receiversim.h"
#include "runlog.h"
#include "support/package_writer.h"
#include "support/pty.h"
#include "support/temp_settings.h"
#include "updateengine.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kPort = 231;
constexpr int kGuardMs = 60000;  // only against hangs
constexpr char kPrefixes[] = "loader-family Q4B1\nseries Q4\nfpga Q4FA0 Q4FA1\n";

Bytes TestImage(std::size_t size, std::uint8_t seed) {
    Bytes v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 7));
    return v;
}

// The maker's CPU images begin so; the package check warns of any other.
Bytes CpuImage(std::size_t size, std::uint8_t seed) {
    const std::uint8_t magic[] = {0xEE, 0xBE, 0xAD, 0xDE};
    Bytes v = TestImage(size, seed);
    std::copy(std::begin(magic), std::end(magic), v.begin());
    return v;
}

void WritePackage(const QString& folder, const QString& cpuRows,
                  const std::map<QString, Bytes>& images) {
    ::WritePackage(folder, kPrefixes, cpuRows, images);
}

QString ReadBack(std::FILE* file) {
    std::fflush(file);
    const long size = std::ftell(file);
    QByteArray bytes(size, '\0');
    std::rewind(file);
    const std::size_t n = std::fread(bytes.data(), 1, static_cast<std::size_t>(size), file);
    return QString::fromUtf8(bytes.left(static_cast<qsizetype>(n)));
}

// The kinds of the block frames the receiver got, in order.
std::vector<int> BlockKinds(const qsim::SimStats& stats) {
    std::vector<int> kinds;
    for (const qsim::SimFrameSeen& f : stats.frames)
        if (f.type[0] == 'S' && f.type[1] == 'X') kinds.push_back(f.kind);
    return kinds;
}

// The lines of a run log without their time stamps.
QStringList LogLines(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "));
    QStringList lines;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        lines << QString(line).remove(stamp);
    }
    return lines;
}

class HeadlessRun : public ::testing::Test {
protected:
    HeadlessRun() {
        // Installed packages are looked for here only, never in the user's own
        // or the system's.
        qputenv("XDG_DATA_HOME", work.filePath("xdg").toUtf8());
        qputenv("XDG_DATA_DIRS",
                (work.filePath("share1") + ':' + work.filePath("share2")).toUtf8());
    }

    void TearDown() override { CloseCaptures(); }

    // The receiver, known as COM231 in this test's settings file.
    void StartSim(qsim::SimOptions o = {}) {
        sim = std::make_unique<qsim::ReceiverSim>(std::move(o));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        settings.MapPort(kPort, QString::fromStdString(sim->DevicePath()));
    }

    // Writes a package of these cpu rows and images, for the next Run().
    QString UsePackage(const QString& cpuRows, const std::map<QString, Bytes>& images) {
        firmware = work.filePath(QStringLiteral("pkg%1").arg(++m_packages));
        WritePackage(firmware, cpuRows, images);
        return firmware;
    }

    // Runs to the end on a real event loop; the exit status.
    int Run(HeadlessOptions options = {}) {
        if (options.device.empty()) options.link.m_nComPort = kPort;
        if (options.firmware.isEmpty()) options.firmware = firmware;
        CloseCaptures();  // of the run before, if any
        m_out = std::tmpfile();
        m_err = std::tmpfile();
        CHeadlessOutput output(m_out, m_err, false);
        const CResourceImageStore carried;
        UpdateEngine engine(RealLinks(), CarriedImageConfig(), carried);
        CHeadlessRun run(engine, options, output, FirmwareSearchFolders(), history);
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

    QTemporaryDir work;
    TempSettings settings;  // nothing here may touch the user's own
    std::unique_ptr<qsim::ReceiverSim> sim;
    QString firmware = QStringLiteral("builtin");  // what --firmware gives
    CHistory* history = nullptr;                   // where Run() records, if anywhere
    QString out, err;

private:
    void CloseCaptures() {
        if (m_out) std::fclose(std::exchange(m_out, nullptr));
        if (m_err) std::fclose(std::exchange(m_err, nullptr));
    }

    std::FILE* m_out = nullptr;
    std::FILE* m_err = nullptr;
    int m_packages = 0;
};

// Whole runs with their run logs in this test's own state folder.
class RunLog : public HeadlessRun {
protected:
    RunLog() : m_savedState(qgetenv("XDG_STATE_HOME")) {
        qputenv("XDG_STATE_HOME", work.filePath("state").toUtf8());
    }
    ~RunLog() override { qputenv("XDG_STATE_HOME", m_savedState); }
    void SetUp() override {
        StartSim();
        UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", CpuImage(30 * 128 + 5, 4)}});
    }

    QString Logs() const { return work.filePath("state/quorvexupdate/logs"); }

private:
    QByteArray m_savedState;
};

}  // namespace

TEST_F(HeadlessRun, CompletedEndsWithZeroAndTheListOnStdout) {
    StartSim();
    const auto image = CpuImage(40 * 128 + 17, 2);
    const QString folder = UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", image}});
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
    EXPECT_TRUE(lines.contains(
        QStringLiteral("Firmware package: %1 (%2)").arg(QFileInfo(folder).fileName(), folder)))
        << out.toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression("^Address: ")), QStringList{"Address: 1480"});
    EXPECT_EQ(lines.mid(lines.size() - 4),
              (QStringList{"Updating Firmware! please wait.............",
                           "The receiver is writing its firmware (0:00). Do not power it off or "
                           "unplug it.",
                           "Completed!", QString(41, '-')}));
    EXPECT_EQ(err.toStdString(), "");
}

// A package that states its versions: a receiver already at them is left
// alone, and after an update the versions it comes back with are checked.
TEST_F(HeadlessRun, VersionsDecideWhetherToSendAndCheckTheResult) {
    struct Row {
        const char* name;
        const char* before;
        const char* after;  // what the simulated firmware reports after the update
        bool force, verify;
        int exit;
        const char* said;  // on standard output
    } const rows[] = {
        {"updated", "5.100", "5.200", false, true, kExitCompleted, "Verified: CPU 5.200"},
        {"came back old", "5.100", "", false, true, kExitNotVerified, "Warning: the receiver"},
        {"not checked", "5.100", "", false, false, kExitCompleted, "Completed!"},
        {"up to date", "5.200", "", false, true, kExitUpToDate, "Versions: up to date"},
        {"forced", "5.200", "", true, true, kExitCompleted, "Verified: CPU 5.200"},
    };
    const Bytes image = CpuImage(10 * 128, 3);
    UsePackage("cpu Q4B1C20 248\nversions cpu=5.200\n", {{"CPU/248.bin", image}});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qsim::SimOptions o;
        o.cpuVersion = row.before;
        o.cpuVersionAfter = row.after;
        StartSim(o);
        HeadlessOptions options;
        options.force = row.force;
        options.verify = row.verify;
        EXPECT_EQ(Run(options), row.exit) << err.toStdString();
        EXPECT_TRUE(out.contains(row.said)) << out.toStdString();
        EXPECT_EQ(sim->Stats().transfersStarted, row.exit == kExitUpToDate ? 0 : 1);
        // Asked once before the update, and again after it unless told not to.
        const bool checked = row.verify && row.exit != kExitUpToDate;
        EXPECT_EQ(sim->Stats().versionAnswers > 1, checked);
    }
}

TEST_F(HeadlessRun, TheTimeOutCountsFromTheLastByteNotFromTheStart) {
    qsim::SimOptions o;
    o.pace = true;  // the transfer takes its wire time, several time-outs long
    StartSim(o);
    UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", CpuImage(300 * 128, 9)}});
    HeadlessOptions options;
    options.timeoutSeconds = 2;
    EXPECT_EQ(Run(options), kExitCompleted) << err.toStdString();
}

TEST_F(HeadlessRun, WithoutAVersionRecordUpdateIsStillGiven) {
    qsim::SimOptions o;
    o.answerVersion = false;
    o.bootVersion = "3.000";  // its loader listens at 9600, as assumed without a record
    StartSim(o);
    UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", CpuImage(300, 4)}});
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
    // Well beyond the 0.8 s the identification takes, so that Update is given
    // before the silence counts, however busy the machine.
    options.timeoutSeconds = 2;
    EXPECT_EQ(Run(options), kExitNoAnswer);
    EXPECT_EQ(sim->Stats().resets, 1) << "Update was given";
    EXPECT_TRUE(err.contains("No answer from the receiver on COM231")) << err.toStdString();
    EXPECT_TRUE(err.contains("within 2 s"));
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
    UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", CpuImage(100 * 128, 6)}});
    HeadlessOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(Run(options), kExitSilent);
    EXPECT_EQ(sim->Stats().positiveAcks, 10);
    EXPECT_TRUE(out.contains("Address: 500")) << "the held address line is printed at the end";
}

TEST_F(HeadlessRun, AHangUpIsReportedAndEndsTheRunAtOnce) {
    qsim::SimOptions o;
    o.hangUpAfterBlocks = 10;
    StartSim(o);
    UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", CpuImage(100 * 128, 7)}});
    HeadlessOptions options;
    options.timeoutSeconds = 600;  // the run must not wait for the silence
    EXPECT_EQ(Run(options), kExitSilent);
    EXPECT_TRUE(err.startsWith("Application Error: ")) << err.toStdString();
    EXPECT_EQ(err.count("Application Error: "), 1) << err.toStdString();
    EXPECT_FALSE(err.contains("sent nothing")) << err.toStdString();
}

TEST_F(HeadlessRun, RepeatedRestartRequestsEndTheRun) {
    qsim::SimOptions o;
    o.forceVx = 10;
    StartSim(o);
    UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", CpuImage(20 * 128, 8)}});
    HeadlessOptions options;
    options.maxRestarts = 2;
    EXPECT_EQ(Run(options), kExitTooManyRestarts);
    EXPECT_EQ(sim->Stats().vxSent, 3);
    EXPECT_EQ(sim->Stats().transfersStarted, 3) << "two restarts were taken";
    EXPECT_TRUE(err.contains("asked for a restart 3 times (limit 2")) << err.toStdString();
}

TEST_F(HeadlessRun, NoFirmwareForTheModel) {
    qsim::SimOptions o;
    o.partNumber = "Q4B1A10";  // a row of the built-in table without a built-in image
    StartSim(o);
    EXPECT_EQ(Run(), kExitNoFirmware);
    EXPECT_EQ(err.toStdString(), "Error: NO CPU firmware for this model: Q4B1A10\n") << "said once";
    EXPECT_EQ(sim->Stats().sxFrames, 0);
}

TEST_F(HeadlessRun, BootAnsweredYesSendsTheBootLoaderWithTheReceiversSerial) {
    qsim::SimOptions o;
    o.offerBootUpdate = true;  // loader serial 123456, part number tail C20
    StartSim(o);
    // The serial-number record: loader family at i, '/' at i+16 and i+19.
    constexpr std::size_t i = 300;
    Bytes boot = TestImage(700, 5);
    const std::string record = "Q4B1-000000-2024/01/01-ZZZ";
    std::copy(record.begin(), record.end(), boot.begin() + i);
    Bytes patched = boot;
    std::copy_n("123456", 6, patched.begin() + i + 5);
    std::copy_n("C20", 3, patched.begin() + i + 23);
    UsePackage("cpu Q4B1C20 248 boot=7\n",
               {{"CPU/248.bin", CpuImage(500, 3)}, {"BOOT/7.bin", boot}});
    HeadlessOptions options;
    options.bootAnswer = true;
    EXPECT_EQ(Run(options), kExitBootSent) << err.toStdString() << out.toStdString();
    const auto stats = sim->Stats();
    for (const auto& e : stats.errors) ADD_FAILURE() << e;
    EXPECT_TRUE(sim->CheckImage(0, patched).equal);
    EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed)
        << "the checksum covers the patched bytes";
    EXPECT_EQ(stats.cpuBlocks, 6) << "the boot image only";
    EXPECT_TRUE(out.contains("Update boot? yes"));
    EXPECT_EQ(stats.checksumBlocks, 1) << "ended on its acknowledgement, no report awaited";
    EXPECT_TRUE(err.contains("run again without --boot yes"));
}

TEST_F(HeadlessRun, BootAnsweredNoSendsTheCpuFirmware) {
    qsim::SimOptions o;
    o.offerBootUpdate = true;
    StartSim(o);
    UsePackage("cpu Q4B1C20 248 boot=7\n",
               {{"CPU/248.bin", CpuImage(500, 3)}, {"BOOT/7.bin", TestImage(300, 5)}});
    EXPECT_EQ(Run(), kExitCompleted) << err.toStdString();
    EXPECT_TRUE(out.contains("Update boot? no"));
    EXPECT_EQ(sim->Stats().cpuBlocks, 4);
}

TEST_F(HeadlessRun, PartOutsideTheLoaderFamilyStartsAfterTheStartExchange) {
    qsim::SimOptions o;
    o.partNumber = "Q4A2C30";
    StartSim(o);
    const Bytes cpu = TestImage(9 * 128 + 40, 11);  // a warning, which does not stop the run
    UsePackage("cpu Q4A2C30 249\n", {{"CPU/249.bin", cpu}});
    EXPECT_EQ(Run(), kExitCompleted) << err.toStdString();
    EXPECT_TRUE(err.startsWith("warning: CPU/249.bin: ")) << err.toStdString();
    const auto stats = sim->Stats();
    for (const auto& e : stats.errors) ADD_FAILURE() << e;
    EXPECT_GE(stats.ssAnswers, 1);
    EXPECT_EQ(stats.atFrames, 1);
    EXPECT_TRUE(sim->CheckImage(0, cpu).equal);
}

TEST_F(HeadlessRun, FpgaPartSendsTheCpuImageThenTheFpgaImage) {
    qsim::SimOptions o;
    o.partNumber = "Q4FA0K1";
    StartSim(o);
    // 21 CPU blocks: the FPGA image starts after offset A80, so its first
    // block's B2 byte is 0A where the CPU image's own blocks would give 00.
    const Bytes cpu = CpuImage(21 * 128 - 3, 12);
    const Bytes fpga = TestImage(5 * 128 + 1, 13);
    UsePackage("cpu Q4FA0K1 250 fpga=12\n", {{"CPU/250.bin", cpu}, {"FPGA/12.bin", fpga}});
    EXPECT_EQ(Run(), kExitCompleted) << err.toStdString();
    const auto stats = sim->Stats();
    for (const auto& e : stats.errors) ADD_FAILURE() << e;  // the B2 byte is checked there
    std::vector<int> expected(21, 21);
    expected.insert(expected.end(), 6, 20);
    expected.push_back(17);
    EXPECT_EQ(BlockKinds(stats), expected);
    EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed) << "over both images";
    EXPECT_TRUE(sim->CheckImage(0, cpu).equal);
    EXPECT_TRUE(sim->CheckImage(1, fpga).equal);
    EXPECT_EQ(stats.completedUpdates, 1);
}

TEST_F(HeadlessRun, AnUnusablePackageEndsTheRunBeforeThePortOpens) {
    // The port is a line this test holds: whatever were written to it stays there.
    PtyPair line;
    ASSERT_TRUE(line.IsOpen());
    settings.MapPort(kPort, QString::fromStdString(line.SlavePath()));
    const Bytes cpu = CpuImage(300, 1);
    const QByteArray cpuSum =
        QCryptographicHash::hash(Data(cpu), QCryptographicHash::Sha256).toHex();
    struct Row {
        const char* name;
        std::function<void(const QString& folder)> spoil;  // null: no --firmware at all
        QStringList said;
    };
    const Row rows[] = {
        {"missing image",
         [&](const QString& folder) {
             WriteFile(folder + "/images.conf",
                       QByteArray(kPrefixes) + "cpu Q4B1C20 248\n" + "cpu Q4A2C30 249\n");
         },
         {"CPU/249.bin: "}},
        {"bad checksum line",
         [&](const QString& folder) {
             WriteFile(folder + "/SHA256SUMS", cpuSum + "  CPU/248.bin\nnot a checksum line\n");
         },
         {"SHA256SUMS:2: "}},
        {"wrong checksum",
         [&](const QString& folder) {
             WriteFile(folder + "/SHA256SUMS", QByteArray(64, 'a') + "  CPU/248.bin\n");
         },
         {"CPU/248.bin: "}},
        {"syntax error",
         [&](const QString& folder) {
             WriteFile(folder + "/images.conf",
                       QByteArray(kPrefixes) + "cpu Q4B1C20 248\n" + "cpu Q4B1C21 248 fpga=x\n");
         },
         {"images.conf:5: "}},
        {"no --firmware", nullptr, {"--firmware DIR", "--firmware builtin"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.spoil) {
            row.spoil(UsePackage("cpu Q4B1C20 248\n", {{"CPU/248.bin", cpu}}));
        } else {
            firmware.clear();
        }
        EXPECT_EQ(Run(), kExitBadPackage) << err.toStdString();
        for (const QString& said : row.said) EXPECT_TRUE(err.contains(said)) << err.toStdString();
        EXPECT_EQ(out, "");
        EXPECT_FALSE(WaitReadable(line.Master(), std::chrono::milliseconds(0)))
            << "something was written to the port";
    }
}

TEST_F(HeadlessRun, PackagesByNameFolderOrBuiltin) {
    const Bytes cpu = CpuImage(300, 1);
    // The user's folder, then each of XDG_DATA_DIRS in its order.
    const QString xdg = work.filePath("xdg/quorvexupdate/firmware/");
    const QString share1 = work.filePath("share1/quorvexupdate/firmware/");
    const QString data = work.filePath("share2/quorvexupdate/firmware/");
    const std::vector<std::string> folders = FirmwareSearchFolders();
    EXPECT_EQ(folders, (std::vector<std::string>{xdg.chopped(1).toStdString(),
                                                 share1.chopped(1).toStdString(),
                                                 data.chopped(1).toStdString()}));
    WritePackage(data + "installed", "cpu Q4B1C20 248\n", {{"CPU/248.bin", cpu}});
    WritePackage(data + "both", "cpu Q4B1C20 248\n", {{"CPU/248.bin", cpu}});
    WritePackage(xdg + "both", "cpu Q4A2C30 249\n", {{"CPU/249.bin", cpu}});
    WritePackage(share1 + "both", "cpu Q4A2C30 249\n", {{"CPU/249.bin", cpu}});
    struct Row {
        QString firmware;
        QString folder;  // empty: the built-in one; "-": none
    } rows[] = {
        {"builtin", ""},
        {"installed", data + "installed"},
        {"both", xdg + "both"},  // the user's own first
        {data + "both", data + "both"},
        {"nosuch", "-"},
        {work.filePath("nosuch"), "-"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.firmware.toStdString());
        std::vector<PackageProblem> problems;
        QString reason;
        const auto package = ResolveFirmwarePackage(row.firmware, folders, &problems, &reason);
        if (row.folder == "-") {
            EXPECT_FALSE(package);
            EXPECT_TRUE(reason.contains(row.firmware)) << reason.toStdString();
            continue;
        }
        ASSERT_TRUE(package) << reason.toStdString();
        EXPECT_EQ(package->builtin, row.folder.isEmpty());
        if (package->builtin) continue;
        EXPECT_EQ(QDir(QString::fromStdString(package->folder)).canonicalPath(),
                  QDir(row.folder).canonicalPath());
    }
    // A name that is also a folder here is that folder.
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(data));
    std::vector<PackageProblem> problems;
    QString reason;
    const auto package = ResolveFirmwarePackage("both", folders, &problems, &reason);
    QDir::setCurrent(saved);
    ASSERT_TRUE(package) << reason.toStdString();
    EXPECT_EQ(QDir(QString::fromStdString(package->folder)).canonicalPath(),
              QDir(data + "both").canonicalPath());
}

TEST_F(HeadlessRun, PortThatDoesNotOpen) {
    settings.MapPort(kPort, QStringLiteral("/nonexistent/receiver"));
    EXPECT_EQ(Run(), kExitPortNotOpened);
    EXPECT_EQ(err.toStdString(),
              "Cannot open COM231 (/nonexistent/receiver): No such file or directory\n");
}

// --- run logs ---------------------------------------------------------------

TEST_F(RunLog, TheFileHoldsEveryLineOfTheListAndTheOutcome) {
    ASSERT_EQ(Run(), kExitCompleted) << err.toStdString();
    const QStringList files = QDir(Logs()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    // The device path makes no folders.
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.\\d{3}_COM231-"
                                   "dev-pts-\\d+-SN-123456\\.log$"))
                    .match(files[0])
                    .hasMatch())
        << files[0].toStdString();

    QStringList lines = LogLines(QDir(Logs()).filePath(files[0]));
    ASSERT_GE(lines.size(), 6);
    // What an auditor matches against the package: the image's own hash.
    const QStringList images = lines.filter(QRegularExpression("^Image sent: "));
    QFile image(firmware + "/CPU/248.bin");
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        images,
        QStringList{QStringLiteral("Image sent: CPU 248, %1 bytes, SHA-256 %2")
                        .arg(image.size())
                        .arg(QCryptographicHash::hash(image.readAll(), QCryptographicHash::Sha256)
                                 .toHex())});
    lines.removeIf([](const QString& l) { return l.startsWith("Image sent: "); });
    EXPECT_TRUE(QRegularExpression("^Duration: \\d+:\\d\\d\\.\\d \\(\\d+\\.\\d s\\)$")
                    .match(lines.takeLast())
                    .hasMatch());
    EXPECT_TRUE(lines[0].startsWith("QuorvexUpdate ")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("Port: COM231 (%1)").arg(sim->DevicePath().c_str()));
    EXPECT_EQ(
        lines[2],
        QStringLiteral("Firmware package: %1 (%2)").arg(QFileInfo(firmware).fileName(), firmware));
    // The list as the operator saw it, the identification first and the
    // address line as it ended; the progress figures are no list lines.
    QStringList list = out.split('\n', Qt::SkipEmptyParts);
    list.removeIf([](const QString& l) {
        return l.startsWith("Progress:") || l.startsWith("The receiver is writing");
    });
    EXPECT_EQ(lines.mid(3, lines.size() - 5).join('\n').toStdString(),
              list.join('\n').toStdString());
    EXPECT_EQ(list.first(), "Connected receiver information:");
    EXPECT_EQ(list.filter(QRegularExpression("^Address: ")).join('|').toStdString(),
              "Address: F80");
    EXPECT_EQ(
        lines.mid(lines.size() - 2),
        (QStringList{"Receiver: part number Q4B1C20, serial number 123456", "Outcome: Completed"}));
}

// Each run is one row of the history: the receiver, the package and the
// SHA-256 of the image sent, the outcome, its run log; and runs that end
// without an update too, the engine's way or the run's own.
TEST_F(RunLog, EachRunIsRecordedInTheHistory) {
    const QString db = work.filePath("history.sqlite");
    CHistory recorded(db);
    history = &recorded;
    const auto image = CpuImage(30 * 128 + 5, 4);  // SetUp's
    // With the versions checked after the update.
    qsim::SimOptions updated;
    updated.cpuVersionAfter = "5.200";
    StartSim(updated);
    UsePackage("cpu Q4B1C20 248\nversions cpu=5.200\n", {{"CPU/248.bin", image}});
    const QString port = QStringLiteral("COM231 (%1)").arg(sim->DevicePath().c_str());
    ASSERT_EQ(Run(), kExitCompleted) << err.toStdString();
    const QString log = QDir(Logs()).entryList(QDir::Files).value(0);
    UsePackage("cpu Q4B1C99 248\n", {{"CPU/248.bin", image}});
    ASSERT_EQ(Run(), kExitNoFirmware);
    qsim::SimOptions mute;
    mute.answerVersion = false;
    mute.loaderStartDelayMs = 600000;
    StartSim(mute);
    HeadlessOptions options;
    options.timeoutSeconds = 2;  // Update is given first, as above
    ASSERT_EQ(Run(options), kExitNoAnswer);
    ASSERT_TRUE(recorded.Drain(kGuardMs));

    QString error;
    CHistoryDb reader(*ParseHistoryUrl(db, &error));
    ASSERT_TRUE(reader.Open(&error)) << error.toStdString();
    const std::vector<HistoryRun> runs = reader.Query({}, &error).value();
    ASSERT_EQ(runs.size(), 3u);
    const HistoryRun& done = runs[0];
    EXPECT_EQ(done.port, port);
    EXPECT_EQ(done.serial, "Z4A00417");
    EXPECT_EQ(done.loaderSerial, "123456");
    EXPECT_EQ(done.partNumber, "Q4B1C20");
    EXPECT_EQ(VersionsText(done.cpuBefore, done.fpgaBefore, done.bootBefore),
              "5.100 - 2.300, boot 3.100");
    EXPECT_EQ(done.package, "pkg2");
    EXPECT_EQ(
        done.images,
        "CPU 248 " + QCryptographicHash::hash(Data(image), QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(done.outcome, "Completed");
    EXPECT_EQ(done.cpuAfter, "5.200");
    EXPECT_EQ(done.detail, "Verified: CPU 5.200");
    EXPECT_GT(done.durationMs, 0);
    EXPECT_EQ(done.runLog, log);
    EXPECT_EQ(runs[1].outcome, "No firmware");
    EXPECT_EQ(runs[1].package, "pkg3");
    EXPECT_EQ(runs[1].partNumber, "Q4B1C20");
    EXPECT_TRUE(runs[1].images.isEmpty());
    EXPECT_EQ(runs[2].outcome, "Failed");
    EXPECT_TRUE(runs[2].detail.startsWith("No answer from the receiver"))
        << runs[2].detail.toStdString();
}

TEST_F(RunLog, AnUnwritableFolderIsSaidOnceAndTheUpdateGoesOn) {
    // A file where the folder should be stops root as well as anyone.
    WriteFile(work.filePath("state/quorvexupdate"), "not a folder");
    EXPECT_EQ(Run(), kExitCompleted) << err.toStdString();
    EXPECT_EQ(sim->Stats().completedUpdates, 1);
    const QStringList said = out.split('\n').filter("cannot be written");
    EXPECT_EQ(said.size(), 1) << out.toStdString();
    EXPECT_TRUE(out.contains("Completed!"));
}

TEST_F(RunLog, TheOldestBeyondTwoHundredAreRemoved) {
    ASSERT_TRUE(QDir().mkpath(Logs()));
    // Dated after any run of today, as when the clock was set back, so the
    // new run's name is the oldest; written out of order.
    for (int i = 204; i >= 0; --i)
        WriteFile(QDir(Logs()).filePath(
                      RunLogFileName(QDateTime(QDate(2099, 1, 1), QTime(0, 0).addSecs(i)),
                                     QStringLiteral("COM1 (/dev/ttyS0)"))),
                  "old");
    // Others' files, a .log among them, are none of the program's business.
    for (const char* name : {"notes.txt", "notes.log", "2000-01-01_00-00-00.000_COM1.log.txt"})
        WriteFile(QDir(Logs()).filePath(name), "the operator's own");
    ASSERT_EQ(Run(), kExitCompleted) << err.toStdString();
    QStringList logs = QDir(Logs()).entryList({"*.log"}, QDir::Files, QDir::Name);
    EXPECT_TRUE(logs.removeOne("notes.log"));
    ASSERT_EQ(logs.size(), 200);
    EXPECT_TRUE(logs[0].contains("_COM231-")) << "the new one, kept";
    EXPECT_TRUE(logs[1].startsWith("2099-01-01_00-00-06.000_")) << logs[1].toStdString();
    EXPECT_EQ(QDir(Logs()).entryList({"notes.txt", "*.log.txt"}, QDir::Files).size(), 2);
}
