#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link.h"
#include "noticeedge.h"
#include "ringbuffer.h"
#include "usb_device.h"
#include "usb_signal.h"
#include "usbid.h"

inline constexpr std::uint32_t kUsbRingSize = 4096;
inline constexpr int kUsbChunk = 512;
inline constexpr std::chrono::milliseconds kUsbTxWait{200};
inline constexpr std::chrono::milliseconds kUsbInTimeout{500};
// A read thread that writes nothing for this long is not going to: a bulk OUT
// gives up after kUsbOutTimeout, and the pass around it lasts at most
// kUsbTxWait + kUsbInTimeout. The receiver restart waits this long at most.
inline constexpr std::chrono::milliseconds kUsbOutTimeout{2000};
inline constexpr std::chrono::milliseconds kUsbTxDoneBound{3000};
// How often the thread looks for the receiver while it has none: on every
// hotplug arrival at once, and besides at this period, since a device whose
// permissions udev sets a moment after it arrives is only openable later.
inline constexpr std::chrono::milliseconds kUsbSearchPeriodHotplug{1000};
inline constexpr std::chrono::milliseconds kUsbSearchPeriodPoll{100};

// The receiver link over USB. One thread, started by Start and ended by
// Shutdown, does everything that may take time: it looks for the receiver
// (hotplug arrivals where libusb has them, else a poll), opens and claims it,
// writes what callers queued to the bulk OUT pipe and reads the bulk IN pipe
// into the receive ring. The owner's thread only queues bytes and reads the
// ring; it hears of received bytes, "device ready" and "device gone" through
// its ILinkListener, called on this thread, so a missing or mute device never
// makes it wait. One libusb context serves the
// link for its whole life; two links share nothing.
class CUsbUpdate {
public:
    CUsbUpdate();
    // Shutdown(): the thread ends before the rings it fills.
    ~CUsbUpdate();
    CUsbUpdate(const CUsbUpdate&) = delete;
    CUsbUpdate& operator=(const CUsbUpdate&) = delete;

    // Starts the thread, which looks for the receiver at once: the first
    // device publishing interface class 1, else class 2, else the first whose
    // vendor:product is in ids. The listener gets OnLinkReady when it is
    // open, a lost line when an open device leaves the bus, and
    // OnLinkDataReady on the edge (see ILinkListener).
    void Start(ILinkListener* listener, std::vector<UsbId> ids);
    // Looks for the receiver again after CloseDevice (it re-enumerates as its
    // loader after a restart). Returns at once.
    void Search();
    // Queues the bytes (all or nothing) and wakes the thread; *queued is
    // length, or 0 when they do not fit in the send ring. Returns before
    // anything is sent; without an open device the thread drops them.
    bool UsbWrite(const std::uint8_t* bytes, std::int32_t length, std::int32_t* queued);
    // Waits until every byte queued so far has been written by the thread (or
    // dropped for want of a device); false when bound passes first.
    bool WaitTxDone(std::chrono::milliseconds bound = kUsbTxDoneBound);
    // Releases the interface and closes the device, and stops looking for one
    // until Search. The thread keeps running. Receive bytes still in the ring
    // belong to the closed device and are dropped.
    void CloseDevice();
    // Closes the device and stops the thread; returns once the thread has
    // ended, so nothing is posted to the owner afterwards.
    void Shutdown();

    // The device is open and claimed: bytes written now can reach it.
    bool IsOpen() const { return m_bOpen.load(std::memory_order_acquire); }
    // "/dev/bus/usb/BBB/DDD" of the device open now, or of the last one (for
    // messages about it); "" before the first.
    std::string DevicePath() const;
    // Clears the pending data notice and takes up to size received bytes.
    std::size_t Read(std::uint8_t* buffer, std::size_t size);
    // The thread runs (diagnostics and tests).
    bool ReaderAlive() const { return m_bReaderAlive.load(std::memory_order_acquire); }
    // libusb tells arrivals on this system (else the thread polls).
    bool HasHotplug() const { return m_bHotplug; }

private:
    void Run();
    void Discover();
    void Serve(UsbDevice* device);
    void SendBatch(UsbDevice* device);
    void WaitWithoutDevice(std::chrono::milliseconds bound);
    void Wake();
    std::shared_ptr<UsbDevice> CurrentDevice() const;
    void DropDevice(const std::shared_ptr<UsbDevice>& device);
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event event,
                                     void* self);

    alignas(64) std::uint8_t m_store[2 * kUsbRingSize];  // rx ring, then tx ring
    RingBuffer m_rxRing;                                 // receiver -> owner
    RingBuffer m_txRing;                                 // owner -> thread
    UsbContext m_context;
    bool m_bHotplug = false;  // set before the thread starts, cleared after it ends
    libusb_hotplug_callback_handle m_hotplug = 0;
    std::vector<UsbId> m_ids;
    ILinkListener* m_pListener = nullptr;
    CNoticeEdge m_notice;  // data notices on the edge: one per drain
    std::unique_ptr<std::thread> m_pReadThread;

    std::atomic<bool> m_bReaderRun{false};
    std::atomic<bool> m_bReaderAlive{false};
    std::atomic<bool> m_bOpen{false};
    std::atomic<bool> m_bSearch{false};     // the owner wants a device
    std::atomic<bool> m_bBusChanged{true};  // a device arrived since the last look
    LinkEvent m_txEvent;                    // bytes are queued, or a stop or search is asked
    WrittenSignal m_txDone;                 // send ring position written through
    std::uint32_t m_txTarget = 0;           // send ring position the last queued bytes end at

    // Guards the device pointer and its path, never I/O on the device: the
    // device object keeps its handle safe against the thread (UsbDevice).
    mutable std::mutex m_deviceMutex;
    std::shared_ptr<UsbDevice> m_device;  // null: none found yet, closed or gone
    std::string m_strDevicePath;
};
