#include "usbupdate.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <cstdio>
#include <mutex>
#include <system_error>

#include "usb_device.h"
#include "usb_discovery.h"
#include "usb_signal.h"

// Same category name as the rest of the program, so one logging rule turns on
// every trace line.
Q_LOGGING_CATEGORY(lcUsbTrace, "quorvex.trace", QtWarningMsg)

RingBuffer g_rxRing;
RingBuffer g_txRing;
std::atomic<bool> g_bReaderRun{false};
std::atomic<bool> g_bReaderAlive{false};
std::atomic<int> g_nReaderStarts{0};

namespace {

// Guards the g_hDevice pointer itself, never I/O on the device: the device
// object keeps its own handle safe against the read thread (UsbDevice).
std::mutex g_deviceMutex;
std::shared_ptr<UsbDevice> g_hDevice;  // null: never opened, failed, closed or dropped
std::atomic<std::uint8_t> g_pipeIn{0};
std::atomic<std::uint8_t> g_pipeOut{0};
std::atomic<std::uint8_t> g_pipeInterrupt{0};  // learned, not used
LinkEvent g_hTxEvent;                          // bytes are queued in g_txRing
WrittenSignal g_hTxDoneEvent;                  // g_txRing position written through
std::atomic<ILinkOwner*> g_hOwnerWnd{nullptr};
// Orders a thread's decision to end against SetReaderRunning(true), so that a
// start never finds a thread that is about to end and leaves none running.
std::mutex g_threadMutex;

// Long enough for a cancelled transfer to come back through the event loop.
constexpr std::chrono::milliseconds kUsbCloseBound{1000};

std::shared_ptr<UsbDevice> CurrentDevice() {
    std::lock_guard lock(g_deviceMutex);
    return g_hDevice;
}

std::shared_ptr<UsbDevice> TakeDevice() {
    std::lock_guard lock(g_deviceMutex);
    return std::move(g_hDevice);
}

// The thread lets go of a device that went away; the UI may have closed it
// meanwhile, then there is nothing to do.
void DropDevice(const std::shared_ptr<UsbDevice>& device) {
    std::lock_guard lock(g_deviceMutex);
    if (g_hDevice == device) g_hDevice.reset();
}

// One batch of up to kUsbChunk bytes from the send ring to the bulk OUT pipe.
// Without a usable device everything queued is dropped: it has nowhere to go,
// and a waiter on the written signal must not hang on it.
void SendBatch(UsbDevice* device) {
    std::uint8_t chunk[kUsbChunk];
    std::uint32_t taken = 0;
    if (device) {
        taken = RingGet(&g_txRing, chunk, kUsbChunk);
        if (taken == 0) return;
        int written = 0;
        const UsbIo io = device->Write(chunk, static_cast<int>(taken), kUsbOutTimeout, &written);
        if (io != UsbIo::Ok) {
            qCDebug(lcUsbTrace, "UsbWrite: %d of %u bytes written, outcome %d", written, taken,
                    static_cast<int>(io));
        }
    } else {
        while (const std::uint32_t n = RingGet(&g_txRing, chunk, kUsbChunk)) taken += n;
        if (taken == 0) return;
        qCDebug(lcUsbTrace, "UsbWrite: no device, %u bytes dropped", taken);
    }
    g_hTxDoneEvent.Publish(g_txRing.out.load(std::memory_order_relaxed));
}

bool ReadInPipe(UsbDevice* device, std::uint8_t* buffer, int size, int* count) {
    *count = 0;
    if (!device) return true;
    // Bytes queued while the read waits go out at once instead of after it.
    const auto idle = [device] {
        if (RingUsed(&g_txRing) != 0) SendBatch(device);
        return g_bReaderRun.load(std::memory_order_acquire);
    };
    const UsbIo io = device->Read(buffer, size, kUsbInTimeout, count, idle);
    if (io == UsbIo::Stalled) qCDebug(lcUsbTrace, "ReadInPipe: IN pipe stalled, halt cleared");
    if (io == UsbIo::Failed) qCDebug(lcUsbTrace, "ReadInPipe: read failed");
    return io == UsbIo::Ok || io == UsbIo::TimedOut;
}

void UsbReadThread(CUsbUpdate*) {
    qCDebug(lcUsbTrace, "%s started", "CUsbUpdate::UsbReadThread");
    std::uint8_t buffer[kUsbChunk];
    for (;;) {
        {
            std::lock_guard lock(g_threadMutex);
            if (!g_bReaderRun.load(std::memory_order_acquire)) {
                g_bReaderAlive.store(false, std::memory_order_release);
                break;
            }
        }
        g_hTxEvent.WaitFor(kUsbTxWait);
        g_hTxEvent.Reset();

        const std::shared_ptr<UsbDevice> device = CurrentDevice();
        UsbDevice* ready = device && device->Ready() ? device.get() : nullptr;
        SendBatch(ready);

        int count = 0;
        // A chunk that would not fit in the receive ring stays in the device
        // until the frame has drained the ring: nothing received is dropped.
        if (RingSpace(&g_rxRing) >= kUsbChunk) ReadInPipe(ready, buffer, kUsbChunk, &count);
        qCDebug(lcUsbTrace, "ByteTransfered: %d", count);
        if (count > 0) {
            RingPut(&g_rxRing, buffer, static_cast<std::uint32_t>(count));
            qCDebug(lcUsbTrace, "%s : input bytes : %d： %s", "CUsbUpdate::UsbReadThread", count,
                    QByteArray(reinterpret_cast<const char*>(buffer), count).constData());
            if (ILinkOwner* owner = g_hOwnerWnd.load(std::memory_order_acquire)) {
                owner->PostLinkMessage(WM_LINK_DATA, static_cast<std::uintptr_t>(count), 0);
            }
        }
        if (device && device->Gone()) {
            qCDebug(lcUsbTrace, "UsbReadThread: device gone, dropped");
            DropDevice(device);
        }
    }
    qCDebug(lcUsbTrace, "%s stopped", "CUsbUpdate::UsbReadThread");
}

}  // namespace

CUsbUpdate::CUsbUpdate() {
    g_bReaderRun.store(false);
    // The rings are set up once, before any thread can touch them: emptying
    // them later would race with the read thread.
    RingInit(&g_rxRing, kUsbRingSize, m_store);
    RingInit(&g_txRing, kUsbRingSize, m_store + kUsbRingSize);
    g_hTxDoneEvent.Publish(0);
    g_hTxEvent.Reset();
}

CUsbUpdate::~CUsbUpdate() {
    Shutdown();
}

void CUsbUpdate::SetOwner(ILinkOwner* owner) {
    m_pOwner = owner;
}

UsbHandle CUsbUpdate::OpenDevice(const std::vector<UsbId>& ids) {
    char path[256] = {};
    const UsbContext context = MakeUsbContext();
    if (context && !FindDevicePath(context.get(), kUsbInterfaceClass1, path, sizeof path) &&
        !FindDevicePath(context.get(), kUsbInterfaceClass2, path, sizeof path)) {
        FindDevicePathById(context.get(), ids, path, sizeof path);
    }
    if (m_pOwner) m_pOwner->SetActiveRxRing(&g_rxRing);

    // Whatever an earlier device still holds (interface, handle) goes before
    // the next one is opened.
    if (const std::shared_ptr<UsbDevice> previous = TakeDevice()) previous->Close(kUsbCloseBound);

    std::shared_ptr<UsbDevice> device = path[0] ? UsbDevice::Open(context, path) : nullptr;
    const UsbHandle handle = device ? device->Handle() : kInvalidUsbHandle;
    m_strDevicePath = device ? path : "";
    {
        std::lock_guard lock(g_deviceMutex);
        g_hDevice = std::move(device);
    }
    if (handle != kInvalidUsbHandle &&
        (!g_bReaderAlive.load(std::memory_order_acquire) || !g_bReaderRun.load())) {
        SetReaderRunning(true);
    }
    return handle;
}

bool CUsbUpdate::InitWinUsb(ILinkOwner* owner) {
    const std::shared_ptr<UsbDevice> device = CurrentDevice();
    if (!device) {
        std::fputs("Open Device Error.\n", stdout);
        return false;
    }
    // Bytes of an earlier device left in the receive ring are stale. This
    // thread is the ring's consumer, so it may drain it, and does so before the
    // claim makes the device ready: nothing of the new device is read yet. The
    // send ring was drained by the read thread while no device was ready.
    std::uint8_t discard[256];
    while (RingGet(&g_rxRing, discard, sizeof discard) != 0) {
    }
    g_hOwnerWnd.store(owner, std::memory_order_release);
    const bool result = device->Claim();
    g_pipeIn.store(device->Pipes().in);
    g_pipeOut.store(device->Pipes().out);
    g_pipeInterrupt.store(device->Pipes().interrupt);
    return result;
}

bool CUsbUpdate::UsbWrite(const std::uint8_t* bytes, std::int32_t length, std::int32_t* queued) {
    const std::uint32_t put =
        length > 0 && bytes ? RingPut(&g_txRing, bytes, static_cast<std::uint32_t>(length)) : 0;
    if (queued) *queued = static_cast<std::int32_t>(put);
    // The written signal is a ring position, not a flag that this call would
    // clear: the target is taken after the put and only then is the thread
    // woken, so the batch carrying these bytes is always published after the
    // target exists, and a batch of older bytes ends below it. Nothing a clear
    // could swallow, nothing older that could release the waiter.
    if (put != 0) m_txTarget = g_txRing.in.load(std::memory_order_relaxed);
    g_hTxEvent.Set();
    if (const std::shared_ptr<UsbDevice> device = CurrentDevice()) device->Wake();
    return true;
}

void CUsbUpdate::SetReaderRunning(bool run) {
    std::lock_guard lock(g_threadMutex);
    g_bReaderRun.store(run, std::memory_order_release);
    if (!run) {
        // Cut the thread's wait short so that it sees the flag sooner.
        g_hTxEvent.Set();
        if (const std::shared_ptr<UsbDevice> device = CurrentDevice()) device->Wake();
        return;
    }
    // A running thread, even one that has been asked to end but has not yet
    // looked at the flag, goes on: there is never a second one.
    if (g_bReaderAlive.load(std::memory_order_acquire)) return;
    // An ended thread has cleared its alive flag under this lock and only
    // returns now.
    if (m_pReadThread && m_pReadThread->joinable()) m_pReadThread->join();
    g_bReaderAlive.store(true, std::memory_order_release);
    try {
        m_pReadThread = std::make_unique<std::thread>(UsbReadThread, this);
        g_nReaderStarts.fetch_add(1);
    } catch (const std::system_error&) {
        g_bReaderAlive.store(false);
        m_pReadThread.reset();
        qCDebug(lcUsbTrace, "UsbReadThread start failed.");
    }
}

bool CUsbUpdate::WaitTxDone(std::chrono::milliseconds bound) {
    return g_hTxDoneEvent.WaitReached(m_txTarget, bound);
}

void CUsbUpdate::CloseDevice() {
    if (const std::shared_ptr<UsbDevice> device = TakeDevice()) device->Close(kUsbCloseBound);
    m_bOpen = 0;
    m_strDevicePath.clear();
}

void CUsbUpdate::Shutdown() {
    SetReaderRunning(false);
    CloseDevice();
    if (m_pReadThread && m_pReadThread->joinable()) m_pReadThread->join();
    m_pReadThread.reset();
    g_hOwnerWnd.store(nullptr);
}

bool CUsbUpdate::DeviceAttached() const {
    return CurrentDevice() != nullptr;
}
