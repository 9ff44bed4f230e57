#include "usb_receiver.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

FakeUsbReceiver::FakeUsbReceiver(FakeUsbBus& bus, qsim::SimOptions options, FakeUsbConfig firmware,
                                 FakeUsbConfig loader)
    : m_bus(bus),
      m_firmware(firmware.Reply(FakeReply::None)),
      m_loader(loader.Reply(FakeReply::None)),
      m_sim(std::move(options)) {}

FakeUsbReceiver::~FakeUsbReceiver() {
    // The core's thread ends first: its events take the lock.
    m_sim.Stop();
    {
        std::lock_guard lock(m_mutex);
        LeaveLocked();
    }
    if (m_host >= 0) close(m_host);
}

bool FakeUsbReceiver::Start(bool plugged, std::string* error) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
        if (error) *error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    m_host = ends[0];
    {
        std::lock_guard lock(m_mutex);
        m_boardUp = true;
        m_loaderRuns = false;
    }
    m_sim.SetObserver([this](qsim::SimEvent event) { OnSimEvent(event); });
    if (!m_sim.StartOnStream(ends[1], error)) return false;
    if (plugged) Plug();
    return true;
}

void FakeUsbReceiver::Plug() {
    std::lock_guard lock(m_mutex);
    m_cable = true;
    ArriveLocked();
}

void FakeUsbReceiver::Unplug() {
    std::lock_guard lock(m_mutex);
    m_cable = false;
    LeaveLocked();
}

FakeUsbDevice* FakeUsbReceiver::Present() {
    std::lock_guard lock(m_mutex);
    return m_present;
}

int FakeUsbReceiver::Arrivals() {
    std::lock_guard lock(m_mutex);
    return m_arrivals;
}

void FakeUsbReceiver::OnSimEvent(qsim::SimEvent event) {
    std::lock_guard lock(m_mutex);
    switch (event) {
        case qsim::SimEvent::Restarting:
        case qsim::SimEvent::HungUp:
            m_boardUp = false;
            LeaveLocked();
            break;
        case qsim::SimEvent::LoaderStarted:
            m_boardUp = true;
            m_loaderRuns = true;
            ArriveLocked();
            break;
        case qsim::SimEvent::Completed:
            // The board runs its firmware again; the device on the bus stays
            // as it is unless the board hangs up (hangUpAfterScMs).
            m_loaderRuns = false;
            break;
    }
}

void FakeUsbReceiver::ArriveLocked() {
    if (m_present || !m_cable || !m_boardUp) return;
    FakeUsbConfig config = m_loaderRuns ? m_loader : m_firmware;
    // Every arrival takes an address of its own, as USB enumeration does.
    while (m_usedAddresses.count(config.address) != 0) ++config.address;
    m_usedAddresses.insert(config.address);
    // A freshly enumerated device has nothing left over from before.
    std::uint8_t stale[4096];
    while (recv(m_host, stale, sizeof stale, MSG_DONTWAIT) > 0) {
    }
    FakeUsbDevice* device = m_bus.Add(config);
    if (!device) return;
    device->AttachStream(m_host);
    m_present = device;
    ++m_arrivals;
}

void FakeUsbReceiver::LeaveLocked() {
    if (!m_present) return;
    m_present->Unplug();
    m_bus.Remove(m_present);
    m_present = nullptr;
}
