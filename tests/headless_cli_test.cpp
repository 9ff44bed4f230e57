// The real program, quorvexupdate-cli, run as an operator or a script runs
// it: against the simulated receiver on a pseudo-terminal, its exit status,
// its output, Ctrl-C, and several receivers at once, one of them through
// quorvexupdate --headless. Every run is given a Qt platform that does not
// exist: nothing here may need a display.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <array>
#include <chrono>
#include <map>
#include <memory>

#include "receiversim.h"
#include "support/pg_server.h"
#include "support/pty.h"
#include "support/temp_settings.h"

#if !defined(QUORVEX_PROGRAM) || !defined(QUORVEX_WINDOW_PROGRAM)
#error "the test needs the programs' paths"
#endif

namespace {

constexpr int kGuardMs = 120000;  // only against hangs

// A program and the arguments that come before a test's own.
struct Program {
    const char* path;
    QStringList leading;
};
const Program kCli{QUORVEX_PROGRAM, {}};
const Program kWindow{QUORVEX_WINDOW_PROGRAM, {}};
const Program kWindowHeadless{QUORVEX_WINDOW_PROGRAM, {"--headless"}};

struct Result {
    int code = -1;
    QString out, err;
};

// Each test gets empty configuration and data directories of its own.
class Cli : public ::testing::Test {
protected:
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.Path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("nonexistent"));
        return env;
    }

    void Launch(QProcess& p, const QStringList& args, const Program& program = kCli) const {
        p.setProcessEnvironment(Environment());
        p.start(QString::fromLocal8Bit(program.path), program.leading + args);
        ASSERT_TRUE(p.waitForStarted());
    }

    Result Run(const QStringList& args, const Program& program = kCli) const {
        QProcess p;
        Launch(p, args, program);
        Result r;
        EXPECT_TRUE(p.waitForFinished(kGuardMs));
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    std::unique_ptr<qsim::ReceiverSim> StartSim(qsim::SimOptions o = {}) const {
        auto sim = std::make_unique<qsim::ReceiverSim>(std::move(o));
        std::string error;
        EXPECT_TRUE(sim->Start(&error)) << error;
        return sim;
    }

    TempSettings settings;
    QTemporaryDir data;
};

QByteArray CarriedImage() {
    QFile f(QStringLiteral(QUORVEX_CPU_IMAGE_PATH));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path())) << path.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// A package as an operator lays it out: images.conf, the images by type and
// id, and SHA256SUMS over them.
void WritePackage(const QString& folder, const QByteArray& conf,
                  const std::map<QString, QByteArray>& images) {
    WriteFile(folder + "/images.conf", conf);
    QByteArray sums;
    for (const auto& [path, bytes] : images) {
        WriteFile(folder + '/' + path, bytes);
        sums += Sha256(bytes) + "  " + path.toUtf8() + '\n';
    }
    WriteFile(folder + "/SHA256SUMS", sums);
}

}  // namespace

TEST_F(Cli, HelpVersionAndBadArguments) {
    Result r = Run({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("Usage: quorvexupdate-cli --firmware PACKAGE"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Exit status:"));
    EXPECT_TRUE(r.out.contains("  130  interrupted"));
    // A --headless carried over from the window's command line is taken.
    for (const QStringList& args :
         {QStringList{"--version"}, QStringList{"--headless", "--version"}}) {
        r = Run(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, "quorvexupdate-cli (QuorvexUpdate) 8.6.3.1\n");
    }

    const QStringList bad[] = {{},
                               {"COM0"},
                               {"--boot", "perhaps", "COM1"},
                               {"--frobnicate", "5"},
                               {"--timeout", "x", "5"},
                               {"--check"}};
    for (const QStringList& args : bad) {
        SCOPED_TRACE(args.join(' ').toStdString());
        r = Run(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.startsWith("quorvexupdate-cli: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith("Try 'quorvexupdate-cli --help'.\n"));
        EXPECT_EQ(r.out, "");
    }
    r = Run({"--log", QDir(settings.Path()).filePath("no/such/dir/run.log"), "COM1"});
    EXPECT_EQ(r.code, 2) << "the log file cannot be written; COM1 was not opened";
    EXPECT_TRUE(r.err.contains("cannot write the log file")) << r.err.toStdString();
}

TEST_F(Cli, HelpAndVersionOpenNeitherTheWindowNorAPort) {
    // COM1, which the window connects to at start, is a line this test holds.
    PtyPair line;
    ASSERT_TRUE(line.IsOpen());
    settings.MapPort(1, QString::fromStdString(line.SlavePath()));
    const QStringList helps[] = {{"--help"}, {"-h"}, {"COM1", "--help"}, {"--headless", "--help"}};
    for (const QStringList& args : helps) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Result r = Run(args, kWindow);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("Exit status:")) << r.out.toStdString();
        EXPECT_TRUE(
            r.out.startsWith("Usage: quorvexupdate [-platform NAME]\n"
                             "   or: quorvexupdate --headless --firmware PACKAGE"));
        EXPECT_TRUE(r.out.contains("Without --headless, quorvexupdate opens its window"));
    }
    const QStringList versions[] = {{"--version"}, {"COM1", "--version", "--headless"}};
    for (const QStringList& args : versions) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Result r = Run(args, kWindow);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, "QuorvexUpdate 8.6.3.1\n");
    }
    // An option the window does not know, or no display: said, status 2.
    Result r = Run({"--frobnicate"}, kWindow);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith("quorvexupdate: unknown option '--frobnicate'"))
        << r.err.toStdString();
    QProcess p;
    QProcessEnvironment env = Environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(name);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUORVEX_WINDOW_PROGRAM), {});
    ASSERT_TRUE(p.waitForFinished(kGuardMs));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError())
                    .contains("use 'quorvexupdate --headless' or 'quorvexupdate-cli'"));
    EXPECT_FALSE(WaitReadable(line.Master(), std::chrono::milliseconds(0)))
        << "something was written to COM1";
}

TEST_F(Cli, PortThatDoesNotOpen) {
    Result r = Run({"--firmware", "builtin", "/nonexistent/ttyQ0"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(
        r.err.contains("Cannot open COM256 (/nonexistent/ttyQ0): No such file or directory"))
        << r.err.toStdString();
    r = Run({"--firmware", "builtin", "COM250"});  // nothing maps COM250 to a device
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.contains("Cannot open COM250: it names no device")) << r.err.toStdString();
}

TEST_F(Cli, ExitStatusOfEachWayAReceiverCanFail) {
    struct Row {
        const char* name;
        qsim::SimOptions sim;
        QStringList args;
        int code;
        const char* err;
    };
    qsim::SimOptions noAnswer;
    noAnswer.answerVersion = false;
    noAnswer.loaderStartDelayMs = 600000;
    qsim::SimOptions silent;
    silent.silentAfterBlocks = 300;
    qsim::SimOptions noFirmware;
    noFirmware.partNumber = "Q4B1A10";
    const Row rows[] = {
        {"no answer", noAnswer, {"--timeout", "2"}, 4, "No answer from the receiver"},
        {"silent", silent, {"--timeout", "2"}, 6, "sent nothing for 2 s"},
        {"no firmware", noFirmware, {}, 5, "NO CPU firmware for this model: Q4B1A10"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto sim = StartSim(row.sim);
        const Result r = Run(row.args + QStringList{"--firmware", "builtin",
                                                    QString::fromStdString(sim->DevicePath())});
        EXPECT_EQ(r.code, row.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(row.err))) << r.err.toStdString();
    }
}

// In the middle of a flash the first Ctrl-C only warns; the second stops.
TEST_F(Cli, InterruptClosesThePortAndEndsPromptly) {
    auto sim = StartSim();
    QProcess p;
    Launch(p, {"--firmware", "builtin", QString::fromStdString(sim->DevicePath())});
    // Mid-transfer: wait for blocks to be going out.
    ASSERT_TRUE(sim->WaitFor([](const qsim::SimStats& s) { return s.sxFrames > 2000; },
                             std::chrono::milliseconds(kGuardMs)));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QByteArray err;
    p.setReadChannel(QProcess::StandardError);
    while (!err.contains("Ctrl-C again") && p.waitForReadyRead(kGuardMs))
        err += p.readAllStandardError();
    ASSERT_TRUE(err.contains("Ctrl-C again")) << err.toStdString();
    const int before = sim->Stats().sxFrames;
    ASSERT_TRUE(sim->WaitFor([&](const qsim::SimStats& s) { return s.sxFrames > before + 100; },
                             std::chrono::milliseconds(kGuardMs)))
        << "the first Ctrl-C does not stop the transfer";
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000)) << "gone soon after the second Ctrl-C";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_TRUE(QString::fromUtf8(err + p.readAllStandardError()).contains("Interrupted"));
    const int blocks = sim->Stats().sxFrames;
    EXPECT_LT(blocks, 22952) << "stopped before the end";
    EXPECT_EQ(sim->Stats().completedUpdates, 0);
}

TEST_F(Cli, ThreeReceiversAtOnce) {
    constexpr int kRuns = 3;
    QTemporaryDir work;
    std::array<std::unique_ptr<QProcess>, kRuns> sims, runs;
    QStringList devices;
    for (int i = 0; i < kRuns; ++i) {
        const QString record = work.filePath(QStringLiteral("rec%1").arg(i));
        ASSERT_TRUE(QDir().mkpath(record));
        sims[i] = std::make_unique<QProcess>();
        sims[i]->start(QStringLiteral(QUORVEX_RECEIVER_SIM),
                       {"--quiet", "--record", record, "--link",
                        work.filePath(QStringLiteral("receiver%1").arg(i))});
        ASSERT_TRUE(sims[i]->waitForStarted());
        ASSERT_TRUE(sims[i]->waitForReadyRead(10000));
        devices << QString::fromUtf8(sims[i]->readLine()).trimmed();
        ASSERT_TRUE(devices.back().startsWith("/dev/pts/")) << devices.back().toStdString();
    }
    for (int i = 0; i < kRuns; ++i) {
        runs[i] = std::make_unique<QProcess>();
        // The link path, a device path on the command line: no settings needed.
        // The last one through the window's program, as its README shows it.
        // One history for all, as stations that share one.
        Launch(*runs[i],
               {"--firmware", "builtin", work.filePath(QStringLiteral("receiver%1").arg(i)),
                "--history-db", work.filePath("history.sqlite")},
               i == kRuns - 1 ? kWindowHeadless : kCli);
    }
    const QByteArray carried = CarriedImage();
    ASSERT_EQ(carried.size(), 2937712);
    for (int i = 0; i < kRuns; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(runs[i]->waitForFinished(kGuardMs));
        const QString out = QString::fromUtf8(runs[i]->readAllStandardOutput());
        EXPECT_EQ(runs[i]->exitCode(), 0) << runs[i]->readAllStandardError().toStdString();
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        EXPECT_TRUE(lines.contains("Completed!"));
        EXPECT_LT(lines.size(), 60) << "plain output stays small";
        EXPECT_EQ(lines.filter("Progress: ").size(), 20);
    }
    for (int i = 0; i < kRuns; ++i) {
        sims[i]->terminate();  // SIGTERM: the simulator writes nothing more and exits
        ASSERT_TRUE(sims[i]->waitForFinished(10000));
        QFile image(work.filePath(QStringLiteral("rec%1/image1.bin").arg(i)));
        ASSERT_TRUE(image.open(QIODevice::ReadOnly)) << image.fileName().toStdString();
        const QByteArray received = image.readAll();
        EXPECT_EQ(received.size(), 22951 * 128);
        EXPECT_TRUE(received.startsWith(carried)) << "byte for byte, run " << i;
    }
    EXPECT_TRUE(
        QDir(settings.Path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << "no settings file was written";

    // Every run is in the history, whichever program reads it.
    const QString db = work.filePath("history.sqlite");
    Result r = Run({"history", "--history-db", db, "--csv"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList csv = r.out.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), 1 + kRuns) << r.out.toStdString();
    EXPECT_TRUE(csv[0].startsWith("started,host,port,serial,")) << csv[0].toStdString();
    EXPECT_EQ(csv.filter(",Z4A00417,123456,Q4B1C20,5.100,2.300,3.100,built-in test image,CPU 248 ")
                  .filter(",Completed,")
                  .size(),
              kRuns);
    r = Run({"history", "--serial", "Z4A00417", "--since", "2000-01-01", "--history-db", db},
            kWindowHeadless);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count("  Completed  "), kRuns) << r.out.toStdString();
    r = Run({"history", "--serial", "Z4A99999", "--history-db", db});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "No recorded run matches.\n");
    EXPECT_EQ(Run({"history", "--since", "Tuesday", "--history-db", db}).code, 2);
    EXPECT_EQ(Run({"history", "--history-db", "mysql://station/history"}).code, 2);
}

// Stations sharing one PostgreSQL history named in the settings file: a run
// while the server is down is said, goes on, and is written by the next run
// once the server is back; the history command reads the settings' database.
TEST_F(Cli, ASharedPostgresHistoryFromTheSettingsLosesNoRun) {
    PgServer server;
    QString why;
    if (!server.Start(&why)) GTEST_SKIP() << "no PostgreSQL server: " << why.toStdString();
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Quorvex Solution", "QuorvexUpdate")
        .setValue("History/Database", server.Url("shared"));
    const auto update = [&] {
        auto sim = StartSim();
        return Run({"--firmware", "builtin", QString::fromStdString(sim->DevicePath())});
    };
    EXPECT_EQ(update().code, 0);
    ASSERT_TRUE(server.Stop());
    const Result down = update();
    EXPECT_EQ(down.code, 0) << down.err.toStdString();
    EXPECT_EQ(down.out.count("cannot be written"), 1) << down.out.toStdString();
    EXPECT_EQ(Run({"history"}).code, 1);
    ASSERT_TRUE(server.Start(&why)) << why.toStdString();
    EXPECT_EQ(update().code, 0);
    const Result r = Run({"history", "--serial", "Z4A00417", "--csv"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(",Completed,"), 3) << r.out.toStdString();
}

TEST_F(Cli, CheckPrintsWhatThePackageHolds) {
    QTemporaryDir work;
    const QString folder = work.filePath("z4-test");
    const QByteArray magic("\xEE\xBE\xAD\xDE");
    const QByteArray cpu249(12345, 'a'), fpga12(2000, 'c'), boot7(640, 'e');
    const QByteArray cpu250 = magic + QByteArray(296, 'b'), cpu248 = magic + QByteArray(124, 'd');
    WritePackage(folder,
                 "loader-family Q4B1\nseries Q4\nfpga Q4FA0 Q4FA1\n"
                 "cpu Q4A2C30 249\ncpu Q4FA0K1 250 fpga=12\ncpu Q4B1C20 248 boot=7\n"
                 "versions cpu=5.200 fpga=2.400\nversions Q4B1C20 cpu=5.210\n",
                 {{"CPU/249.bin", cpu249},
                  {"CPU/250.bin", cpu250},
                  {"FPGA/12.bin", fpga12},
                  {"CPU/248.bin", cpu248},
                  {"BOOT/7.bin", boot7}});
    Result r = Run({"--firmware", folder, "--check"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, "");
    QStringList lines = r.out.split('\n');
    // The package check words the warning; this test only places it.
    ASSERT_GE(lines.size(), 16);
    EXPECT_TRUE(lines[15].startsWith("warning: CPU/249.bin: ")) << lines[15].toStdString();
    lines[15] = "(warning)";
    const QStringList expected{"Package:       z4-test",
                               "Folder:        " + folder,
                               "Loader family: Q4B1",
                               "Series:        Q4",
                               "FPGA prefixes: Q4FA0 Q4FA1",
                               "Versions:      CPU 5.200, FPGA 2.400",
                               "               Q4B1C20: CPU 5.210, FPGA 2.400",
                               "",
                               "Part number  Image         Size  SHA-256",
                               "Q4A2C30      CPU/249.bin  12345  " + Sha256(cpu249),
                               "Q4FA0K1      CPU/250.bin    300  " + Sha256(cpu250),
                               "Q4FA0K1      FPGA/12.bin   2000  " + Sha256(fpga12),
                               "Q4B1C20      CPU/248.bin    128  " + Sha256(cpu248),
                               "Q4B1C20      BOOT/7.bin     640  " + Sha256(boot7),
                               "",
                               "(warning)",
                               "",
                               "Valid: 3 part numbers, 5 images, 1 warning.",
                               ""};
    EXPECT_EQ(lines, expected) << r.out.toStdString();

    // By name, from the user's data folder.
    const QString installed = data.filePath("quorvexupdate/firmware/z4-named");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(installed).path()));
    ASSERT_TRUE(QFile::rename(folder, installed));
    r = Run({"--firmware", "z4-named", "--check"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Package:       z4-named\nFolder:        " + installed + '\n'))
        << r.out.toStdString();

    r = Run({"--firmware", "builtin", "--check"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Package:       built-in test image\n")) << r.out.toStdString();
    const QRegularExpression carried("\nQ4B1C20 +built-in CPU 248 +2937712  " +
                                     Sha256(CarriedImage()) + '\n');
    EXPECT_TRUE(r.out.contains(carried)) << r.out.toStdString();
    // Only what it serves, and no path of the program's own.
    EXPECT_TRUE(r.out.endsWith("\nValid: 1 part number, 1 image, 0 warnings.\n"))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(":/")) << r.out.toStdString();

    // Broken: the problems on standard error, nothing on standard output.
    WriteFile(installed + "/images.conf", "loader-family Q4B1\nseries Q4\ncpu Q4B1C20\n");
    r = Run({"--firmware", "z4-named", "--check"});
    EXPECT_EQ(r.code, 9);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains("images.conf:3: ")) << r.err.toStdString();
    r = Run({"--firmware", "no-such-package", "--check"});
    EXPECT_EQ(r.code, 9);
    EXPECT_TRUE(r.err.contains("No firmware package named no-such-package")) << r.err.toStdString();
}
