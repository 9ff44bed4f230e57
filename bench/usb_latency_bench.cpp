// USB link latencies against an umockdev-emulated receiver: UsbWrite until the
// device sees the bytes while the read thread idles, and the round trip of a
// 142-byte block and its 10-byte ack. Prints median and p99.
#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "support/usb_fakedevice.h"
#include "support/usb_recording_owner.h"
#include "usbupdate.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

void Report(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) {
        return us[std::min(us.size() - 1, static_cast<std::size_t>(q * us.size()))];
    };
    std::printf("%-44s n=%3zu  median %8.1f us  p99 %8.1f us  max %8.1f us\n", what, us.size(),
                at(0.5), at(0.99), us.back());
}

bool Connect(CUsbUpdate& usb, UsbRecordingOwner& owner) {
    usb.SetOwner(&owner);
    if (usb.OpenDevice({{0x1234, 0x5678}}) == kInvalidUsbHandle) return false;
    usb.m_bOpen = 1;
    return usb.InitWinUsb(&owner);
}

}  // namespace

int main(int argc, char** argv) {
    RunUnderUmockdev(argc, argv);
    const int idleSamples = argc > 1 ? std::atoi(argv[1]) : 100;
    const int roundTrips = argc > 2 ? std::atoi(argv[2]) : 300;
    FakeUsbBus bus;
    FakeUsbDevice* device = bus.Add(FakeUsbConfig().Reply(FakeReply::Ack10));
    UsbRecordingOwner owner;
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
        owner.Collect(&sink, sink.size() + 10);  // the ack
    }

    // 2. Block and ack, back to back as the transfer runs them.
    std::vector<double> trip;
    std::vector<std::uint8_t> block(142, 0x5a);
    for (int i = 0; i < roundTrips; ++i) {
        sink.clear();
        std::int32_t queued = 0;
        const auto t0 = Clock::now();
        usb.UsbWrite(block.data(), static_cast<std::int32_t>(block.size()), &queued);
        if (!owner.Collect(&sink, 10)) return 1;
        trip.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }

    std::printf("USB link under umockdev (libusb %s emulation; CPU-bound polling)\n", "usbdevfs");
    Report("UsbWrite -> device has bytes (thread idle)", idle);
    Report("142-byte block -> 10-byte ack round trip", trip);
    usb.CloseDevice();
    return 0;
}
