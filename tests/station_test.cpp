// The station window against simulated receivers on real pseudo-terminals,
// all in this process: rows update side by side, each on its own engine,
// link and thread; a row that fails does not hold up the others, the window
// keeps serving its event loop, and the rows come back from the settings
// file.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

#include "firmware.h"
#include "historywindow.h"
#include "imagestore.h"
#include "mainframe.h"
#include "prompter.h"
#include "receiversim.h"
#include "settings.h"
#include "stationrow.h"
#include "stationwindow.h"
#include "support/event_wait.h"
#include "support/recording_prompter.h"
#include "support/temp_settings.h"

namespace {

constexpr int kGuardMs = 120000;  // only against hangs

std::vector<std::uint8_t> Image(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> b(size);
    std::uint32_t x = seed;
    for (auto& v : b) v = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return b;
}

// The built-in package with a small image in place of the carried one, so
// that a run takes a moment.
FirmwarePackage SmallPackage(const std::vector<std::uint8_t>& image) {
    FirmwarePackage package = BuiltinFirmwarePackage();
    auto store = std::make_shared<CMemoryImageStore>();
    store->Add("CPU", 248, image);
    package.store = store;
    return package;
}

class Station : public ::testing::Test {
protected:
    // The station never opens a box: anything that reaches the program's
    // prompter is a defect.
    void SetUp() override { SetPrompter(&prompter); }
    void TearDown() override {
        frame.reset();
        window.reset();
        for (auto& sim : sims) sim->Stop();
        SetPrompter(nullptr);
        EXPECT_TRUE(prompter.questions.isEmpty()) << prompter.questions.join('\n').toStdString();
        EXPECT_TRUE(prompter.errors.isEmpty()) << prompter.errors.join('\n').toStdString();
    }
    // A receiver with a serial number of its own, so each row can be told apart.
    qsim::ReceiverSim& StartSim(qsim::SimOptions o = {}) {
        o.serialNumber = "Z4S0000" + std::to_string(sims.size() + 1);
        o.loaderStartDelayMs = 20;
        sims.push_back(std::make_unique<qsim::ReceiverSim>(o));
        std::string error;
        EXPECT_TRUE(sims.back()->Start(&error)) << error;
        return *sims.back();
    }
    QString Path(std::size_t sim) const { return QString::fromStdString(sims[sim]->DevicePath()); }
    void Open(int silenceSeconds = 30, const std::string& cpuVersion = {}) {
        FirmwarePackage package = SmallPackage(image);
        package.config.versions.cpu = cpuVersion;
        window = std::make_unique<CStationWindow>(
            StationSetup{{}, std::move(package), {}, silenceSeconds});
        window->show();
    }
    CStationRow& Row(int index) { return window->Row(index); }
    QString Cell(int index, int column) { return window->Table()->item(index, column)->text(); }
    // Every row has its result and is no longer busy (a failed one closed).
    bool WaitAllEnded() {
        return WaitUntil(
            [&] {
                for (int i = 0; i < window->RowCount(); ++i) {
                    const CStationRow& row = Row(i);
                    if (row.Result() == StationResult::None) return false;
                    if (row.State().connected && !row.State().IsQuiet()) return false;
                    if (row.Result() == StationResult::Failed && row.State().connected)
                        return false;
                }
                return true;
            },
            kGuardMs);
    }
    bool WaitAllIdle() {
        return WaitUntil(
            [&] {
                for (int i = 0; i < window->RowCount(); ++i)
                    if (!Row(i).IsIdle()) return false;
                return true;
            },
            kGuardMs);
    }

    const std::vector<std::uint8_t> image = Image(300 * 128 + 17, 7);
    TempSettings settings;
    RecordingPrompter prompter;
    std::vector<std::unique_ptr<qsim::ReceiverSim>> sims;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CStationWindow> window;
};

}  // namespace

// Three receivers at once: one answers every fifth block negatively (the
// loader takes the resend, so that row completes: resends are the protocol's
// own recovery and must not disturb the row's checksum chain or any other
// row), one pulls its cable after 40 blocks and fails with the reason shown.
// The two others hold the image byte for byte, and a 10 ms timer on the
// window's thread keeps firing while blocks go out.
TEST_F(Station, ThreeReceiversOneRefusingBlocksOneUnplugged) {
    StartSim();
    qsim::SimOptions naks;
    naks.nakEvery = 5;
    StartSim(naks);
    qsim::SimOptions pulled;
    pulled.hangUpAfterBlocks = 40;
    StartSim(pulled);
    settings.MapPort(200, Path(0));
    settings.MapPort(201, Path(1));
    Open();
    ASSERT_TRUE(window->AddPort("COM200"));
    ASSERT_TRUE(window->AddPort("com201"));
    ASSERT_TRUE(window->AddPort(Path(2))) << "a device path typed in";
    ASSERT_EQ(window->RowCount(), 3);
    ASSERT_TRUE(WaitAllIdle());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Cell(i, CStationWindow::kColSerial), QString("Z4S0000%1").arg(i + 1));
        EXPECT_EQ(Cell(i, CStationWindow::kColVersions), "5.100 - 2.300, boot 3.100");
        EXPECT_EQ(Cell(i, CStationWindow::kColState), "Ready");
    }
    EXPECT_EQ(Cell(0, CStationWindow::kColPort), "COM200 (" + Path(0) + ")");
    EXPECT_EQ(Cell(2, CStationWindow::kColPort), Path(2));

    int ticksWhileSending = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        for (int i = 0; i < window->RowCount(); ++i)
            if (Row(i).State().sending) {
                ++ticksWhileSending;
                return;
            }
    });
    ticker.start();
    ASSERT_TRUE(window->UpdateAllButton()->isEnabled());
    window->UpdateAllButton()->click();
    EXPECT_FALSE(window->UpdateAllButton()->isEnabled()) << "no row is idle any more";
    ASSERT_TRUE(WaitAllEnded());
    EXPECT_EQ(Row(0).Result(), StationResult::Completed) << Row(0).ResultText().toStdString();
    EXPECT_EQ(Row(1).Result(), StationResult::Completed) << Row(1).ResultText().toStdString();
    EXPECT_EQ(Row(2).Result(), StationResult::Failed) << Row(2).ResultText().toStdString();
    ticker.stop();
    EXPECT_GT(ticksWhileSending, 0) << "the window's event loop ran while blocks went out";

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(sims[i]->CheckImage(0, image).equal);
        const auto stats = sims[i]->Stats();
        EXPECT_EQ(stats.completedUpdates, 1);
        EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed);
        EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
        EXPECT_EQ(Cell(i, CStationWindow::kColState), "Done");
        EXPECT_EQ(Cell(i, CStationWindow::kColResult), "Completed!");
        QProgressBar* bar = window->ProgressBar(i);
        ASSERT_NE(bar, nullptr);
        EXPECT_TRUE(bar->text().startsWith("100%  38417/38417 bytes")) << bar->text().toStdString();
    }
    EXPECT_GT(sims[1]->Stats().injectedNaks, 10);
    EXPECT_EQ(sims[2]->Stats().mode, qsim::SimMode::HungUp);
    EXPECT_EQ(Cell(2, CStationWindow::kColState), "Disconnected");
    // The failed row: what happened, then the system's words, an icon, and
    // a bar that no longer shows where it stopped.
    EXPECT_EQ(Row(2).ResultText(), "The line to the receiver was lost");
    EXPECT_FALSE(Row(2).ResultDetail().isEmpty());
    EXPECT_FALSE(Row(2).ResultDetail().contains("WARNING")) << Row(2).ResultDetail().toStdString();
    EXPECT_EQ(Cell(2, CStationWindow::kColResult),
              "The line to the receiver was lost: " + Row(2).ResultDetail());
    QTableWidgetItem* failed = window->Table()->item(2, CStationWindow::kColResult);
    EXPECT_EQ(failed->toolTip(),
              "The line to the receiver was lost.\nThe system reported: " + Row(2).ResultDetail());
    EXPECT_FALSE(failed->icon().isNull());
    QProgressBar* failedBar = window->ProgressBar(2);
    EXPECT_EQ(failedBar->value(), 0);
    EXPECT_FALSE(failedBar->isTextVisible());
    EXPECT_EQ(window->Summary(), "2 done, 1 failed, 0 running, 0 waiting");
    EXPECT_LT(Row(2).Percent(), 100);
    EXPECT_FALSE(Row(2).Figures().contains("kB/s")) << "no rate once blocks stopped";
    EXPECT_FALSE(window->UpdateAllButton()->isEnabled()) << "done rows wait for a new Connect";
}

// A receiver that stops answering mid-transfer fails its own row once the
// silence has lasted; the row beside it completes.
TEST_F(Station, AReceiverThatFallsSilentFailsItsRowAlone) {
    qsim::SimOptions silent;
    silent.silentAfterBlocks = 20;
    StartSim(silent);
    StartSim();
    Open(3);
    ASSERT_TRUE(window->AddPort(Path(0)));
    ASSERT_TRUE(window->AddPort(Path(1)));
    ASSERT_TRUE(WaitAllIdle());
    EXPECT_EQ(window->UpdateAll(), 2);
    ASSERT_TRUE(WaitAllEnded());
    EXPECT_EQ(Row(0).Result(), StationResult::Failed);
    EXPECT_EQ(Row(0).ResultText(), "The receiver sent nothing for 3 s");
    EXPECT_FALSE(Row(0).State().connected);
    EXPECT_EQ(Row(1).Result(), StationResult::Completed) << Row(1).ResultText().toStdString();
    EXPECT_TRUE(sims[1]->CheckImage(0, image).equal);
}

// A package that states its versions: Update All passes a receiver that runs
// them unless asked to include it, and each update ends with its check.
TEST_F(Station, UpdateAllLeavesReceiversThatAreUpToDate) {
    qsim::SimOptions current, old;
    current.cpuVersion = "5.200";
    old.cpuVersionAfter = "5.200";
    StartSim(current);
    StartSim(old);
    Open(30, "5.200");
    ASSERT_TRUE(window->AddPort(Path(0)));
    ASSERT_TRUE(window->AddPort(Path(1)));
    ASSERT_TRUE(WaitAllIdle());
    EXPECT_EQ(Row(0).StateText(), "Up to date");
    EXPECT_EQ(window->UpdateAll(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Row(1).ResultText().contains("Verified"); }, kGuardMs))
        << Row(1).ResultText().toStdString();
    EXPECT_EQ(Row(1).ResultText(), "Completed! Verified: CPU 5.200");
    EXPECT_EQ(sims[0]->Stats().transfersStarted, 0);
    EXPECT_FALSE(window->UpdateAllButton()->isEnabled());
    window->findChild<QCheckBox*>()->click();
    EXPECT_TRUE(window->UpdateAllButton()->isEnabled());
}

// Each row answers "Update boot?" itself, No unless its box is ticked, and
// never with a box on the screen. The boot image is not in the package: the
// row that said yes fails and says so.
TEST_F(Station, EachRowAnswersUpdateBootItself) {
    qsim::SimOptions offers;
    offers.offerBootUpdate = true;
    StartSim(offers);
    StartSim(offers);
    Open();
    ASSERT_TRUE(window->AddPort(Path(0)));
    ASSERT_TRUE(window->AddPort(Path(1)));
    ASSERT_TRUE(WaitAllIdle());
    auto* boot = qobject_cast<QCheckBox*>(window->Table()->cellWidget(0, CStationWindow::kColBoot));
    ASSERT_NE(boot, nullptr);
    boot->setChecked(true);
    EXPECT_EQ(window->UpdateAll(), 2);
    ASSERT_TRUE(WaitAllEnded());
    EXPECT_EQ(Row(1).Result(), StationResult::Completed) << Row(1).ResultText().toStdString();
    EXPECT_EQ(Row(0).Result(), StationResult::Failed);
    EXPECT_EQ(Row(0).ResultText(), "NO BOOT firmware for this model: Q4B1C20");
    EXPECT_EQ(sims[0]->Stats().cpuBlocks, 0);
    EXPECT_TRUE(sims[1]->CheckImage(0, image).equal);
}

// Rows are kept in the settings file in their order, removed ones leave it,
// and they come back, connected, when the station opens again.
TEST_F(Station, RowsComeBackWhenTheStationOpens) {
    StartSim();
    StartSim();
    StartSim();
    settings.MapPort(200, Path(0));
    settings.MapPort(201, Path(2));
    Open();
    ASSERT_TRUE(window->AddPort("COM200"));
    ASSERT_TRUE(window->AddPort(Path(1)));
    ASSERT_TRUE(window->AddPort("COM201"));
    EXPECT_FALSE(window->AddPort("COM200"));
    EXPECT_EQ(window->Note(), "COM200 has a row already.");
    EXPECT_FALSE(window->AddPort("ttyUSB0"));
    EXPECT_EQ(window->RowCount(), 3);
    ASSERT_TRUE(WaitAllIdle());
    window->RemoveButton(1)->click();
    EXPECT_EQ(CSettings().StationPorts(), (QStringList{"COM200", "COM201"}));

    window.reset();
    Open();
    ASSERT_EQ(window->RowCount(), 2);
    EXPECT_EQ(Row(0).Port(), "COM200");
    EXPECT_EQ(Row(1).Port(), "COM201");
    ASSERT_TRUE(WaitAllIdle());
    EXPECT_EQ(Cell(0, CStationWindow::kColSerial), "Z4S00001");
    EXPECT_EQ(Cell(1, CStationWindow::kColSerial), "Z4S00003");
    EXPECT_EQ(sims[1]->Stats().interfaceCommands, 1) << "the removed row stays closed";
}

// App > Station... opens the station with the main window's package, and
// only once the operator chose one.
TEST_F(Station, OpensFromTheAppMenuWithTheMainWindowsPackage) {
    frame = std::make_unique<CMainFrame>(
        FrameStartup{CLinkChoice{17, false, false, false, {}}, false, {}});
    QAction* station = frame->Action(ID_STATION);
    ASSERT_NE(station, nullptr);
    EXPECT_EQ(station->text(), "Station...");
    station->trigger();
    ASSERT_NE(frame->Station(), nullptr);
    EXPECT_TRUE(frame->Station()->isVisible());
    EXPECT_FALSE(frame->Station()->UpdateAllButton()->isEnabled());

    StartSim();
    ASSERT_TRUE(frame->Station()->AddPort(Path(0)));
    ASSERT_TRUE(WaitUntil([&] { return frame->Station()->Row(0).IsIdle(); }, kGuardMs));
    EXPECT_FALSE(frame->Station()->UpdateAllButton()->isEnabled()) << "no package chosen";
    frame->UsePackage(SmallPackage(image));
    EXPECT_TRUE(frame->Station()->UpdateAllButton()->isEnabled());
    frame->Station()->UpdateAllButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return frame->Station()->Row(0).Result() != StationResult::None; },
                          kGuardMs));
    EXPECT_EQ(frame->Station()->Row(0).Result(), StationResult::Completed);
    EXPECT_TRUE(sims[0]->CheckImage(0, image).equal);
}

// Every row's run goes into the window's history: the row shows the last
// one recorded for its receiver, a new row reads it back, and App >
// History... lists, filters and exports it.
TEST_F(Station, TheHistoryKeepsEachRowsLastUpdate) {
    frame = std::make_unique<CMainFrame>(
        FrameStartup{CLinkChoice{17, false, false, false, {}}, false, {}});
    frame->UsePackage(SmallPackage(image));
    frame->Action(ID_STATION)->trigger();
    CStationWindow& station = *frame->Station();
    StartSim();
    ASSERT_TRUE(station.AddPort(Path(0)));
    const auto tip = [&] {
        return station.Table()->item(0, CStationWindow::kColSerial)->toolTip();
    };
    ASSERT_TRUE(WaitUntil([&] { return !tip().isEmpty(); }, kGuardMs));
    EXPECT_EQ(tip(), "No update of Z4S00001 recorded");
    ASSERT_TRUE(WaitUntil([&] { return station.Row(0).IsIdle(); }, kGuardMs));
    station.UpdateAll();
    ASSERT_TRUE(
        WaitUntil([&] { return station.Row(0).Result() != StationResult::None; }, kGuardMs));
    EXPECT_TRUE(tip().startsWith("Last recorded update: ")) << tip().toStdString();
    station.RemoveRow(0);
    ASSERT_TRUE(station.AddPort(Path(0)));
    ASSERT_TRUE(WaitUntil([&] { return !tip().isEmpty(); }, kGuardMs));
    EXPECT_TRUE(tip().contains(", Completed, from 5.100 - 2.300, boot 3.100, built-in test image"))
        << tip().toStdString();

    frame->Action(ID_HISTORY)->trigger();
    CHistoryWindow* history = frame->HistoryWindow();
    ASSERT_NE(history, nullptr);
    QSignalSpy refreshed(history, &CHistoryWindow::refreshed);
    const auto rows = [&] {
        EXPECT_TRUE(refreshed.wait(kGuardMs));
        return history->Table()->rowCount();
    };
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(history->Table()->item(0, 1)->text(), "Z4S00001");
    EXPECT_EQ(history->Table()->item(0, 5)->text(), "Completed");
    history->OutcomeCombo()->setCurrentText("Failed");
    EXPECT_EQ(rows(), 0);
    history->OutcomeCombo()->setCurrentText("Completed");
    EXPECT_EQ(rows(), 1);
    history->SerialEdit()->setText("Z4S00002");
    QTest::keyClick(history->SerialEdit(), Qt::Key_Return);
    EXPECT_EQ(rows(), 0);
    history->SerialEdit()->setText("Z4S00001");
    QTest::keyClick(history->SerialEdit(), Qt::Key_Return);
    EXPECT_EQ(rows(), 1);

    QTemporaryDir dir;
    ASSERT_TRUE(history->ExportCsv(dir.filePath("runs.csv")));
    QFile csv(dir.filePath("runs.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3);  // the header, the run, and the end
    EXPECT_TRUE(lines[1].contains(",Z4S00001,")) << lines[1].toStdString();
}
