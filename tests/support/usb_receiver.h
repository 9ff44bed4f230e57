#pragma once

#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include "receiversim.h"
#include "usb_fakedevice.h"

// The simulated receiver behind emulated USB. One receiver core (the same
// one the pseudo-terminal simulator runs) is the brain; the bus shows it as
// its firmware device or, once it has restarted, as its loader device, each
// with its own ids and a fresh address, as a real receiver re-enumerates.
// Bulk OUT bytes go to the core and what the core sends comes back on bulk
// IN. A restart takes the device off the bus (unplugged, then removed) and
// the loader comes on after the loader's start delay (the firmware's device
// leaves at once, possibly before the host has let go of it); a hang-up of the core
// (SimOptions::hangUpAfterBlocks, hangUpAfterScMs) takes it off for good.
// The core's thread adds and removes devices on the bus: add any other
// devices before Start.
class FakeUsbReceiver {
public:
    FakeUsbReceiver(FakeUsbBus& bus, qsim::SimOptions options, FakeUsbConfig firmware,
                    FakeUsbConfig loader);
    ~FakeUsbReceiver();
    FakeUsbReceiver(const FakeUsbReceiver&) = delete;
    FakeUsbReceiver& operator=(const FakeUsbReceiver&) = delete;

    // Starts the core; plugged: its device is on the bus at once.
    bool Start(bool plugged = true, std::string* error = nullptr);
    // The cable goes in: the device of what the board runs now comes on the
    // bus, unless the board is restarting (its loader comes when it runs).
    void Plug();
    // The cable comes out at any moment; the board keeps running.
    void Unplug();

    qsim::ReceiverSim& Sim() { return m_sim; }
    // The device on the bus now; null when none is.
    FakeUsbDevice* Present();
    // Devices that came on the bus since Start, the current one included.
    int Arrivals();

private:
    void OnSimEvent(qsim::SimEvent event);
    void ArriveLocked();
    void LeaveLocked();

    FakeUsbBus& m_bus;
    const FakeUsbConfig m_firmware;
    const FakeUsbConfig m_loader;
    qsim::ReceiverSim m_sim;
    int m_host = -1;  // this side of the stream the core serves

    // Taken by the test's thread and by the core's thread (its events).
    std::mutex m_mutex;
    FakeUsbDevice* m_present = nullptr;
    bool m_cable = false;    // plugged in
    bool m_boardUp = false;  // running firmware or loader, not restarting or gone
    bool m_loaderRuns = false;
    int m_arrivals = 0;
    std::set<unsigned> m_usedAddresses;
};
