// Run logs of whole headless runs in this process: the update engine on a
// real serial link, a pseudo-terminal and the simulated receiver, on a real
// event loop, with the state folder in a temporary directory.
#include "runlog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <utility>

#include "firmware.h"
#include "headless_output.h"
#include "headless_run.h"
#include "linkfactory.h"
#include "receiversim.h"
#include "support/package_writer.h"
#include "support/temp_settings.h"
#include "updateengine.h"

namespace {

constexpr int kPort = 232;
constexpr int kGuardMs = 60000;  // only against hangs

std::vector<std::uint8_t> CpuImage(std::size_t size) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    const std::uint8_t magic[] = {0xEE, 0xBE, 0xAD, 0xDE};
    std::copy(std::begin(magic), std::end(magic), v.begin());
    return v;
}

QString ReadAll(std::FILE* file) {
    std::fflush(file);
    const long size = std::ftell(file);
    QByteArray bytes(size, '\0');
    std::rewind(file);
    const std::size_t n = std::fread(bytes.data(), 1, static_cast<std::size_t>(size), file);
    return QString::fromUtf8(bytes.left(static_cast<qsizetype>(n)));
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

class RunLog : public ::testing::Test {
protected:
    RunLog() : m_savedState(qgetenv("XDG_STATE_HOME")) {
        qputenv("XDG_STATE_HOME", work.filePath("state").toUtf8());
        qputenv("XDG_DATA_HOME", work.filePath("xdg").toUtf8());
        WritePackage(work.filePath("pkg"), "loader-family Q4B1\nseries Q4\n", "cpu Q4B1C20 248\n",
                     {{"CPU/248.bin", CpuImage(30 * 128 + 5)}});
        sim = std::make_unique<qsim::ReceiverSim>(qsim::SimOptions{});
        std::string error;
        EXPECT_TRUE(sim->Start(&error)) << error;
        settings.MapPort(kPort, QString::fromStdString(sim->DevicePath()));
    }
    ~RunLog() override { qputenv("XDG_STATE_HOME", m_savedState); }

    QString Logs() const { return work.filePath("state/quorvexupdate/logs"); }

    // One headless run to its end; its exit status.
    int Run() {
        std::FILE* outFile = std::tmpfile();
        std::FILE* errFile = std::tmpfile();
        int code = -1;
        {
            CHeadlessOutput output(outFile, errFile, false);
            const CResourceImageStore carried;
            UpdateEngine engine(RealLinks(), CarriedImageConfig(), carried);
            HeadlessOptions options;
            options.link.m_nComPort = kPort;
            options.firmware = work.filePath("pkg");
            CHeadlessRun run(engine, options, output, work.filePath("data").toStdString());
            QEventLoop loop;
            QObject::connect(&run, &CHeadlessRun::finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(kGuardMs, &loop, &QEventLoop::quit);
            run.Start();
            loop.exec();
            output.Flush();
            if (run.IsFinished()) code = run.ExitCode();
        }
        out = ReadAll(outFile);
        err = ReadAll(errFile);
        std::fclose(outFile);
        std::fclose(errFile);
        return code;
    }

    QTemporaryDir work;
    TempSettings settings;
    std::unique_ptr<qsim::ReceiverSim> sim;
    QString out, err;

private:
    QByteArray m_savedState;
};

}  // namespace

TEST_F(RunLog, TheFileHoldsEveryLineOfTheListAndTheOutcome) {
    ASSERT_EQ(Run(), kExitCompleted) << err.toStdString();
    const QStringList files = QDir(Logs()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    // The device path makes no folders.
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.\\d{3}_COM232-"
                                   "dev-pts-\\d+\\.log$"))
                    .match(files[0])
                    .hasMatch())
        << files[0].toStdString();

    const QStringList lines = LogLines(QDir(Logs()).filePath(files[0]));
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines[0].startsWith("QuorvexUpdate ")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("Port: COM232 (%1)").arg(sim->DevicePath().c_str()));
    EXPECT_EQ(lines[2], QStringLiteral("Firmware package: pkg (%1)").arg(work.filePath("pkg")));
    // The list as the operator saw it, the identification first and the
    // address line as it ended; the progress figures are no list lines.
    QStringList list = out.split('\n', Qt::SkipEmptyParts);
    list.removeIf([](const QString& l) { return l.startsWith("Progress:"); });
    EXPECT_EQ(lines.mid(3, lines.size() - 5).join('\n').toStdString(),
              list.join('\n').toStdString());
    EXPECT_EQ(list.first(), "Connected receiver information:");
    EXPECT_EQ(list.filter(QRegularExpression("^Address: ")).join('|').toStdString(),
              "Address: F80");
    EXPECT_EQ(
        lines.mid(lines.size() - 2),
        (QStringList{"Receiver: part number Q4B1C20, serial number 123456", "Outcome: Completed"}));
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
    // Older than any run of today, written out of order.
    for (int i = 204; i >= 0; --i)
        WriteFile(QDir(Logs()).filePath(
                      RunLogFileName(QDateTime(QDate(2020, 1, 1), QTime(0, 0).addSecs(i)),
                                     QStringLiteral("COM1 (/dev/ttyS0)"))),
                  "old");
    WriteFile(QDir(Logs()).filePath("notes.txt"), "the operator's own");
    ASSERT_EQ(Run(), kExitCompleted) << err.toStdString();
    const QStringList logs = QDir(Logs()).entryList({"*.log"}, QDir::Files, QDir::Name);
    ASSERT_EQ(logs.size(), 200);
    EXPECT_TRUE(logs.first().startsWith("2020-01-01_00-00-06.000_")) << logs.first().toStdString();
    EXPECT_TRUE(logs.last().contains("_COM232-")) << "the new one";
    EXPECT_TRUE(QFile::exists(QDir(Logs()).filePath("notes.txt")));
}
