// USB link latencies against an umockdev-emulated receiver: UsbWrite until the
// device sees the bytes while the read thread idles, and the round trip of a
// 142-byte block and its 10-byte ack. Prints median and p99. Then the
// lateness of a 10 ms UI timer while the engine polls for a receiver that is
// not there (USB chosen, "Please reboot the receiver manually...").
//   usb_latency_bench [idle samples] [round trips] [seconds of polling]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "support/usb_fakedevice.h"
#include "support/usb_recording_listener.h"
#include "updateengine.h"
#include "usblink.h"
#include "usbupdate.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

void Report(const char* what, const std::vector<double>& us) {
    std::printf("%-44s n=%3zu  median %8.1f us  p99 %8.1f us  max %8.1f us\n", what, us.size(),
                Percentile(us, 0.5), Percentile(us, 0.99), Percentile(us, 1));
}

bool Connect(CUsbUpdate& usb, UsbRecordingListener& owner) {
    usb.Start(&owner, {{0x1234, 0x5678}});
    return owner.WaitReady(1);
}

// The worst lateness of a 10 ms timer on the engine's thread while the
// engine's 5 ms loader poll runs without a device.
void PollWithoutDevice(int seconds) {
    const ImageConfig config;
    const CMemoryImageStore store;
    UpdateEngine engine(
        [](const CLinkChoice&) { return std::make_unique<CUsbLink>(std::vector<UsbId>{}); }, config,
        store);
    CLinkChoice usb;
    usb.m_bUsb = true;
    engine.SetLinkChoice(usb);
    QEventLoop identification;
    OnEvent<ev::IdentificationEnded>(engine, &identification,
                                     [&](const auto&) { identification.quit(); });
    engine.OnConnect();
    identification.exec();  // no record comes: then Update asks for a manual restart
    engine.OnFirmwareUpdate();

    std::vector<double> lateMs;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateMs.push_back(std::max(0.0, (now - last) / 1e6 - 10.0));
        last = now;
    });
    tick.start(10);
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
    const double cpuBefore = CpuSeconds();
    QCoreApplication::exec();
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf(
        "USB chosen, no device, %d s of the 5 ms poll (%s): 10 ms UI timer fired %zu times, "
        "lateness median %.2f ms, p99 %.2f ms, worst %.2f ms; process CPU %.1f%%\n",
        seconds, engine.IsPolling() ? "polling" : "NOT polling", lateMs.size(),
        Percentile(lateMs, 0.5), Percentile(lateMs, 0.99), Percentile(lateMs, 1),
        100.0 * cpu / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    RunUnderUmockdev(argc, argv);
    QCoreApplication app(argc, argv);
    const int idleSamples = argc > 1 ? std::atoi(argv[1]) : 100;
    const int roundTrips = argc > 2 ? std::atoi(argv[2]) : 300;
    FakeUsbBus bus;
    FakeUsbDevice* device = bus.Add(FakeUsbConfig().Reply(FakeReply::Ack10));
    UsbRecordingListener owner;
    CUsbUpdate usb;
    if (!device || !Connect(usb, owner)) {
        std::fprintf(stderr, "no emulated receiver\n");
        return 1;
    }

    // 1. Write while idle: the thread sits in its 200 ms wait or its 500 ms
    // read at a random point of its pass.
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(10, 700);
    std::vector<double> idle;
    std::vector<std::uint8_t> command(14, 'x');
    std::vector<std::uint8_t> sink;
    for (int i = 0; i < idleSamples; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const std::size_t before = device->OutTimes().size();
        std::int32_t queued = 0;
        const auto t0 = Clock::now();
        usb.UsbWrite(command.data(), static_cast<std::int32_t>(command.size()), &queued);
        if (!device->WaitOutSubmitted(static_cast<int>(before) + 1)) return 1;
        const auto t1 = device->OutTimes()[before];
        idle.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        owner.Collect(usb, &sink, sink.size() + 10);  // the ack
    }

    // 2. Block and ack, back to back as the transfer runs them.
    std::vector<double> trip;
    std::vector<std::uint8_t> block(142, 0x5a);
    for (int i = 0; i < roundTrips; ++i) {
        sink.clear();
        std::int32_t queued = 0;
        const auto t0 = Clock::now();
        usb.UsbWrite(block.data(), static_cast<std::int32_t>(block.size()), &queued);
        if (!owner.Collect(usb, &sink, 10)) return 1;
        trip.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }

    std::printf("USB link under umockdev (libusb %s emulation; CPU-bound polling)\n", "usbdevfs");
    Report("UsbWrite -> device has bytes (thread idle)", idle);
    Report("142-byte block -> 10-byte ack round trip", trip);
    usb.Shutdown();
    device->Unplug();
    bus.Remove(device);

    PollWithoutDevice(argc > 3 ? std::atoi(argv[3]) : 30);
    return 0;
}
