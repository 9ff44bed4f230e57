#include "usbupdate.h"

#include <sys/time.h>

#include <QByteArray>
#include <QLoggingCategory>
#include <algorithm>
#include <limits>
#include <system_error>

#include "usb_discovery.h"

// Same category name as the rest of the program, so one logging rule turns on
// every trace line.
Q_LOGGING_CATEGORY(lcUsbTrace, "quorvex.trace", QtWarningMsg)

namespace {

// Long enough for a cancelled transfer to come back through the event loop.
constexpr std::chrono::milliseconds kUsbCloseBound{1000};

}  // namespace

CUsbUpdate::CUsbUpdate() {
    // The rings are set up once, before any thread can touch them: emptying
    // them later would race with the thread.
    RingInit(&m_rxRing, kUsbRingSize, m_store);
    RingInit(&m_txRing, kUsbRingSize, m_store + kUsbRingSize);
    m_txDone.Publish(0);
}

CUsbUpdate::~CUsbUpdate() {
    Shutdown();
}

void CUsbUpdate::Start(ILinkListener* listener, std::vector<UsbId> ids) {
    if (m_pReadThread) return;
    m_pListener = listener;
    m_ids = std::move(ids);
    m_notice.Reset();
    if (!m_context) m_context = MakeUsbContext();
    // Arrivals only: a device that leaves is noticed by its own transfers.
    m_bHotplug = m_context && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
                 libusb_hotplug_register_callback(
                     m_context.get(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, LIBUSB_HOTPLUG_NO_FLAGS,
                     LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                     &CUsbUpdate::OnHotplug, this, &m_hotplug) == LIBUSB_SUCCESS;
    m_bSearch.store(true, std::memory_order_release);
    m_bBusChanged.store(true, std::memory_order_release);
    m_bReaderRun.store(true, std::memory_order_release);
    m_bReaderAlive.store(true, std::memory_order_release);
    try {
        m_pReadThread = std::make_unique<std::thread>(&CUsbUpdate::Run, this);
    } catch (const std::system_error&) {
        m_bReaderAlive.store(false);
        qCDebug(lcUsbTrace, "UsbReadThread start failed.");
    }
}

void CUsbUpdate::Search() {
    if (IsOpen() || m_bSearch.exchange(true, std::memory_order_acq_rel)) return;
    m_bBusChanged.store(true, std::memory_order_release);
    Wake();
}

std::shared_ptr<UsbDevice> CUsbUpdate::CurrentDevice() const {
    std::lock_guard lock(m_deviceMutex);
    return m_device;
}

std::string CUsbUpdate::DevicePath() const {
    std::lock_guard lock(m_deviceMutex);
    return m_strDevicePath;
}

// The device's transfers run in this link's one context, so interrupting its
// event handling wakes a read in progress too.
void CUsbUpdate::Wake() {
    m_txEvent.Set();
    if (m_context) libusb_interrupt_event_handler(m_context.get());
}

int LIBUSB_CALL CUsbUpdate::OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event event,
                                      void* self) {
    // Runs inside this link's own event handling, on its thread: a flag is
    // enough, the loop looks at it next.
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        static_cast<CUsbUpdate*>(self)->m_bBusChanged.store(true, std::memory_order_release);
    }
    return 0;
}

void CUsbUpdate::Discover() {
    char path[256] = {};
    libusb_context* context = m_context.get();
    if (!FindDevicePath(context, kUsbInterfaceClass1, path, sizeof path) &&
        !FindDevicePath(context, kUsbInterfaceClass2, path, sizeof path)) {
        FindDevicePathById(context, m_ids, path, sizeof path);
    }
    if (!path[0]) return;
    std::shared_ptr<UsbDevice> device = UsbDevice::Open(m_context, path);
    if (!device) return;
    // A device whose pipes cannot be set up still counts as the receiver: it
    // is a link on which nothing arrives, and the trace says why.
    if (!device->Claim()) qCDebug(lcUsbTrace, "InitWinUsb: %s has no usable pipes", path);
    {
        std::lock_guard lock(m_deviceMutex);
        // The owner may have let go meanwhile (Disconnect, a restart).
        if (!m_bSearch.load(std::memory_order_acquire)) {
            device->Close(kUsbCloseBound);
            return;
        }
        m_bSearch.store(false, std::memory_order_release);
        m_device = device;
        m_strDevicePath = path;
        m_bOpen.store(true, std::memory_order_release);
    }
    qCDebug(lcUsbTrace, "Initialize USB Device %s", path);
    if (m_pListener) m_pListener->OnLinkReady();
}

// The thread lets go of a device that went away and tells the owner; the
// owner may have closed it meanwhile, then there is nothing to tell.
void CUsbUpdate::DropDevice(const std::shared_ptr<UsbDevice>& device) {
    std::string path;
    {
        std::lock_guard lock(m_deviceMutex);
        if (m_device != device) return;
        m_device.reset();
        m_bOpen.store(false, std::memory_order_release);
        path = m_strDevicePath;
    }
    qCDebug(lcUsbTrace, "UsbReadThread: device gone, dropped");
    if (m_pListener) {
        m_pListener->OnLinkError(
            "The receiver's USB device " + path + " left the bus (unplugged or restarted).", true);
    }
}

// One batch of up to kUsbChunk bytes from the send ring to the bulk OUT pipe.
// Without a usable device everything queued is dropped: it has nowhere to go,
// and a waiter on the written signal must not hang on it.
void CUsbUpdate::SendBatch(UsbDevice* device) {
    std::uint8_t chunk[kUsbChunk];
    std::uint32_t taken = 0;
    if (device) {
        taken = RingGet(&m_txRing, chunk, kUsbChunk);
        if (taken == 0) return;
        int written = 0;
        const UsbIo io = device->Write(chunk, static_cast<int>(taken), kUsbOutTimeout, &written);
        if (io != UsbIo::Ok) {
            qCDebug(lcUsbTrace, "UsbWrite: %d of %u bytes written, outcome %d", written, taken,
                    static_cast<int>(io));
        }
    } else {
        while (const std::uint32_t n = RingGet(&m_txRing, chunk, kUsbChunk)) taken += n;
        if (taken == 0) return;
        qCDebug(lcUsbTrace, "UsbWrite: no device, %u bytes dropped", taken);
    }
    m_txDone.Publish(m_txRing.out.load(std::memory_order_relaxed));
}

// One pass with the device: what is queued goes out, then the IN pipe is read
// until bytes come or its time-out passes. Bytes queued meanwhile go out at
// once instead of after the read. The IN pipe is always being read: a
// receiver that restarts right after its last answer takes along whatever it
// sent and nobody had read yet.
void CUsbUpdate::Serve(UsbDevice* device) {
    m_txEvent.Reset();
    SendBatch(device);

    std::uint8_t buffer[kUsbChunk];
    int count = 0;
    // A chunk that would not fit in the receive ring stays in the device until
    // the owner has drained the ring: nothing received is dropped.
    if (RingSpace(&m_rxRing) >= kUsbChunk) {
        const auto idle = [this, device] {
            if (RingUsed(&m_txRing) != 0) SendBatch(device);
            return m_bReaderRun.load(std::memory_order_acquire);
        };
        const UsbIo io = device->Read(buffer, kUsbChunk, kUsbInTimeout, &count, idle);
        if (io == UsbIo::Stalled) qCDebug(lcUsbTrace, "ReadInPipe: IN pipe stalled, halt cleared");
        if (io == UsbIo::Failed) qCDebug(lcUsbTrace, "ReadInPipe: read failed");
        // A pipe that fails at once is tried again after a pause, not in a
        // tight loop.
        if (io != UsbIo::Ok && io != UsbIo::TimedOut) m_txEvent.WaitFor(kUsbTxWait);
    } else {
        // The owner is draining the ring; look again soon.
        m_txEvent.WaitFor(std::chrono::milliseconds(10));
    }
    qCDebug(lcUsbTrace, "ByteTransfered: %d", count);
    if (count <= 0) return;
    RingPut(&m_rxRing, buffer, static_cast<std::uint32_t>(count));
    qCDebug(lcUsbTrace, "%s : input bytes : %d： %s", "CUsbUpdate::UsbReadThread", count,
            QByteArray(reinterpret_cast<const char*>(buffer), count).constData());
    if (m_notice.Raise() && m_pListener) m_pListener->OnLinkDataReady();
}

void CUsbUpdate::WaitWithoutDevice(std::chrono::milliseconds bound) {
    if (!m_bHotplug) {
        m_txEvent.WaitFor(bound);
        return;
    }
    // Hotplug arrivals are delivered from here; a write, a search or a stop
    // interrupts the wait (Wake).
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(bound).count();
    timeval slice{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
    libusb_handle_events_timeout_completed(m_context.get(), &slice, nullptr);
}

void CUsbUpdate::Run() {
    qCDebug(lcUsbTrace, "%s started", "CUsbUpdate::UsbReadThread");
    const std::chrono::milliseconds period =
        m_bHotplug ? kUsbSearchPeriodHotplug : kUsbSearchPeriodPoll;
    auto lastLook = std::chrono::steady_clock::now() - period;

    while (m_bReaderRun.load(std::memory_order_acquire)) {
        std::shared_ptr<UsbDevice> device = CurrentDevice();
        if (!device && m_context && m_bSearch.load(std::memory_order_acquire)) {
            const auto now = std::chrono::steady_clock::now();
            if (m_bBusChanged.exchange(false, std::memory_order_acq_rel) ||
                now - lastLook >= period) {
                lastLook = now;
                Discover();
                device = CurrentDevice();
            }
        }
        if (device && device->Ready()) {
            Serve(device.get());
            if (device->Gone()) DropDevice(device);
            continue;
        }
        m_txEvent.Reset();
        SendBatch(nullptr);
        const auto untilLook = std::chrono::duration_cast<std::chrono::milliseconds>(
            lastLook + period - std::chrono::steady_clock::now());
        WaitWithoutDevice(std::clamp(untilLook, std::chrono::milliseconds(1), kUsbTxWait));
    }
    m_bReaderAlive.store(false, std::memory_order_release);
    qCDebug(lcUsbTrace, "%s stopped", "CUsbUpdate::UsbReadThread");
}

bool CUsbUpdate::UsbWrite(const std::uint8_t* bytes, std::int32_t length, std::int32_t* queued) {
    const std::uint32_t put =
        length > 0 && bytes ? RingPut(&m_txRing, bytes, static_cast<std::uint32_t>(length)) : 0;
    if (queued) *queued = static_cast<std::int32_t>(put);
    // The written signal is a ring position, not a flag that this call would
    // clear: the target is taken after the put and only then is the thread
    // woken, so the batch carrying these bytes is always published after the
    // target exists, and a batch of older bytes ends below it.
    if (put != 0) m_txTarget = m_txRing.in.load(std::memory_order_relaxed);
    Wake();
    return true;
}

std::size_t CUsbUpdate::Read(std::uint8_t* buffer, std::size_t size) {
    m_notice.Clear();
    const std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    return RingGet(&m_rxRing, buffer, static_cast<std::uint32_t>(std::min(size, limit)));
}

bool CUsbUpdate::WaitTxDone(std::chrono::milliseconds bound) {
    return m_txDone.WaitReached(m_txTarget, bound);
}

void CUsbUpdate::CloseDevice() {
    std::shared_ptr<UsbDevice> device;
    {
        std::lock_guard lock(m_deviceMutex);
        m_bSearch.store(false, std::memory_order_release);
        device = std::move(m_device);
        m_bOpen.store(false, std::memory_order_release);
    }
    if (device) device->Close(kUsbCloseBound);
    // This thread is the ring's consumer: what the closed device sent is stale
    // for whoever reads next.
    std::uint8_t discard[256];
    while (RingGet(&m_rxRing, discard, sizeof discard) != 0) {
    }
}

void CUsbUpdate::Shutdown() {
    m_bReaderRun.store(false, std::memory_order_release);
    CloseDevice();
    Wake();
    if (m_pReadThread && m_pReadThread->joinable()) m_pReadThread->join();
    m_pReadThread.reset();
    m_notice.Reset();
    if (m_bHotplug) libusb_hotplug_deregister_callback(m_context.get(), m_hotplug);
    m_bHotplug = false;
}
