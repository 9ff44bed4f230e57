// A full update of the carried image over emulated USB: the update engine and
// the real USB link (libusb) against the simulated receiver behind umockdev,
// through the reset, the loader's new device, the "SS" poll, every block and
// the checksum block. Prints the time from Update to "Completed!", the CPU
// per block, and which threads spent it: the receiver, its emulated bus and
// the updater share this process, so the updater's part is read per thread.
// Re-executes itself under the umockdev preload.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "firmware.h"
#include "support/usb_receiver.h"
#include "updateengine.h"
#include "usblink.h"

namespace {

// CPU seconds of every thread of this process, by thread id, with its name.
std::map<int, std::pair<std::string, double>> ThreadCpu() {
    std::map<int, std::pair<std::string, double>> threads;
    const long ticks = sysconf(_SC_CLK_TCK);
    for (const QString& tid :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/self/task/" + tid + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = stat.readAll();
        const int open = text.indexOf('('), close = text.lastIndexOf(')');
        if (open < 0 || close < open) continue;
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() < 13) continue;  // utime, stime are fields 14 and 15
        const double cpu = (fields[11].toDouble() + fields[12].toDouble()) / ticks;
        threads[tid.toInt()] = {text.mid(open + 1, close - open - 1).toStdString(), cpu};
    }
    return threads;
}

// The block phase, from the first block's address line to the last block:
// its time, each block's round trip, and the CPU spent meanwhile.
struct BlockPhase {
    QElapsedTimer blockClock;
    std::vector<double> blockUs;
    double start = 0, end = 0, cpuStart = 0, cpuEnd = 0, uiStart = 0, uiEnd = 0;
    std::map<int, std::pair<std::string, double>> threadsStart, threadsEnd;
    int blocks = 0;
    bool inBlocks = false;

    void Block(const QElapsedTimer& clock) {
        if (!inBlocks) {
            inBlocks = true;
            start = clock.nsecsElapsed() / 1e9;
            cpuStart = CpuSeconds(RUSAGE_SELF);
            uiStart = CpuSeconds(RUSAGE_THREAD);
            threadsStart = ThreadCpu();
        } else {
            blockUs.push_back(blockClock.nsecsElapsed() / 1e3);
        }
        blockClock.restart();
        ++blocks;
    }
    void End(const QElapsedTimer& clock) {
        inBlocks = false;
        end = clock.nsecsElapsed() / 1e9;
        cpuEnd = CpuSeconds(RUSAGE_SELF);
        uiEnd = CpuSeconds(RUSAGE_THREAD);
        threadsEnd = ThreadCpu();
    }
};

void PrintFigures(BlockPhase& p, double total, std::size_t imageSize, bool equal,
                  const qsim::SimStats& stats) {
    const double phase = p.end - p.start;
    std::printf("full update of the carried image (%zu bytes) over emulated USB\n", imageSize);
    std::printf("  received byte-identical:        %s\n", equal ? "yes" : "NO");
    std::printf("  blocks (data + checksum):       %d + %d\n", stats.cpuBlocks,
                stats.checksumBlocks);
    std::printf("  total, Update to Completed!:    %.2f s\n", total);
    std::printf("  block phase:                    %.2f s (%.0f blocks/s)\n", phase,
                p.blocks / phase);
    std::printf("  block round trip median:        %.0f us\n", Percentile(p.blockUs, 0.5));
    // The receiver's and the emulated bus's threads name themselves; every
    // other thread is the updater's (the engine's and the link's).
    const int mainTid = static_cast<int>(gettid());
    double updater = 0;
    std::map<std::string, double> byName;
    for (const auto& [tid, named] : p.threadsEnd) {
        const auto before = p.threadsStart.find(tid);
        const double spent =
            named.second - (before == p.threadsStart.end() ? 0 : before->second.second);
        const bool theirs = named.first == "receiver-sim" || named.first == "fake-usb-bus";
        if (!theirs) updater += spent;
        byName[theirs           ? named.first
               : tid == mainTid ? "updater: engine"
                                : "updater: link"] += spent;
    }
    std::printf("  host CPU per block, updater:    %.1f us (engine thread %.1f us)\n",
                updater / p.blocks * 1e6, (p.uiEnd - p.uiStart) / p.blocks * 1e6);
    std::printf("  CPU per block, whole process:   %.1f us\n",
                (p.cpuEnd - p.cpuStart) / p.blocks * 1e6);
    for (const auto& [name, spent] : byName) {
        std::printf("    %-28s %8.1f us\n", name.c_str(), spent / p.blocks * 1e6);
    }
    std::printf("  peak RSS:                       %.1f MiB\n", PeakRssKiB() / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    RunUnderUmockdev(argc, argv);
    QCoreApplication app(argc, argv);
    InitFirmwareResources();
    const std::vector<UsbId> ids = {{0x1234, 0x5678}, {0x1234, 0x5679}};

    FakeUsbBus bus;
    FakeUsbReceiver receiver(bus, qsim::SimOptions{}, FakeUsbConfig().At(2).Ids(0x1234, 0x5678),
                             FakeUsbConfig().At(5).Ids(0x1234, 0x5679));
    std::string error;
    if (!receiver.Start(true, &error)) {
        std::fprintf(stderr, "receiver: %s\n", error.c_str());
        return 1;
    }

    CResourceImageStore store;
    const ImageConfig& config = CarriedImageConfig();
    UpdateEngine engine(
        [&ids](const CLinkChoice&) -> std::unique_ptr<ILink> {
            return std::make_unique<CUsbLink>(ids);
        },
        config, store);
    CLinkChoice usb;
    usb.m_bUsb = true;
    engine.SetLinkChoice(usb);

    QElapsedTimer clock;
    BlockPhase blocks;
    OnEvent<ev::BlockSent>(engine, &app, [&](const ev::BlockSent& sent) {
        if (!sent.first) blocks.Block(clock);
    });
    OnEvent<ev::AllSent>(engine, &app, [&](const ev::AllSent&) { blocks.End(clock); });
    double total = 0;
    OnEvent<ev::Finished>(engine, &app, [&](const ev::Finished& finished) {
        total = clock.nsecsElapsed() / 1e9;
        app.exit(finished.outcome == UpdateOutcome::Completed ? 0 : 1);
    });
    UpdateWhenIdentified(engine, app, clock);
    QTimer::singleShot(1800000, &app, [&] { app.exit(1); });
    if (!engine.OnConnect()) {
        std::fprintf(stderr, "no link\n");
        return 1;
    }
    const int rc = app.exec();
    engine.OnDisconnect();
    if (rc != 0) {
        std::fprintf(stderr, "the update did not complete\n");
        return rc;
    }

    // The image the carried table names for the simulated receiver's part number.
    int id = 0;
    for (const auto& [partNumber, imageId] : config.cpuRows) {
        if (partNumber == receiver.Sim().Options().partNumber) id = imageId;
    }
    const ImageBytes image = store.Find("CPU", static_cast<std::uint16_t>(id));
    const qsim::ImageCheck check =
        receiver.Sim().CheckImage(0, std::vector<std::uint8_t>(image.begin(), image.end()));
    PrintFigures(blocks, total, image.size(), check.equal, receiver.Sim().Stats());
    return check.equal ? 0 : 1;
}
