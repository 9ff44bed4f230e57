#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "linkowner.h"
#include "ringbuffer.h"
#include "usbid.h"

struct libusb_device_handle;

// The opened receiver's libusb handle. Callers only compare it with
// kInvalidUsbHandle; the link alone uses it.
using UsbHandle = libusb_device_handle*;
inline constexpr UsbHandle kInvalidUsbHandle = nullptr;

inline constexpr std::uint32_t kUsbRingSize = 4096;
inline constexpr int kUsbChunk = 512;
inline constexpr std::chrono::milliseconds kUsbTxWait{200};
inline constexpr std::chrono::milliseconds kUsbInTimeout{500};
// A read thread that writes nothing for this long is not going to: a bulk OUT
// gives up after kUsbOutTimeout, and the pass around it lasts at most
// kUsbTxWait + kUsbInTimeout. The receiver restart waits this long at most.
inline constexpr std::chrono::milliseconds kUsbOutTimeout{2000};
inline constexpr std::chrono::milliseconds kUsbTxDoneBound{3000};

// The receiver link over USB: one read thread, UsbReadThread, writes what
// callers queued to the bulk OUT pipe and reads the bulk IN pipe into the
// receive ring. The thread outlives the device: after a close the same thread
// picks up the next OpenDevice + InitWinUsb.
//
// The rings, the device and the thread's state are still module globals
// (below), so one CUsbUpdate may exist at a time; a later change makes them
// members.
class CUsbUpdate {
public:
    CUsbUpdate();
    // Shutdown(): the thread ends before the rings it fills.
    ~CUsbUpdate();
    CUsbUpdate(const CUsbUpdate&) = delete;
    CUsbUpdate& operator=(const CUsbUpdate&) = delete;

    // The frame; OpenDevice points its receive-ring pointer at g_rxRing.
    void SetOwner(ILinkOwner* owner);
    // Finds and opens the receiver: the first device publishing interface
    // class 1, else class 2, else the first whose vendor:product is in ids.
    // kInvalidUsbHandle when none is there. Starts the read thread if none is
    // running.
    UsbHandle OpenDevice(const std::vector<UsbId>& ids);
    // Claims the opened device's interface, learns its bulk IN/OUT (and
    // interrupt) endpoints of alternate setting 0 and hands it to the thread.
    bool InitWinUsb(ILinkOwner* owner);
    // Queues the bytes (all or nothing) and wakes the thread; *queued is length,
    // or 0 when they do not fit in the send ring. Returns before anything is sent.
    bool UsbWrite(const std::uint8_t* bytes, std::int32_t length, std::int32_t* queued);
    // true starts the read thread (or keeps an ending one running); false only
    // clears g_bReaderRun, and the thread ends by itself within one pass.
    void SetReaderRunning(bool run);
    // Waits until every byte queued so far has been written by the thread (or
    // dropped for want of a device); false when bound passes first.
    bool WaitTxDone(std::chrono::milliseconds bound = kUsbTxDoneBound);
    // Releases the interface and closes the handle; g_hDevice becomes invalid,
    // m_bOpen 0. The thread keeps running.
    void CloseDevice();
    // Closes the device and stops the read thread; returns once the thread has
    // ended, so nothing is posted to the owner afterwards. Closing first
    // cancels the transfer in flight, so the thread ends within its pass.
    void Shutdown();
    // "/dev/bus/usb/BBB/DDD" of the device OpenDevice opened; "" after a close
    // or when none was found.
    const std::string& DevicePath() const { return m_strDevicePath; }
    // False once the device is closed or the thread dropped it after an unplug.
    bool DeviceAttached() const;

    int m_bOpen = 0;

private:
    alignas(64) std::uint8_t m_store[2 * kUsbRingSize];  // rx ring, then tx ring
    ILinkOwner* m_pOwner = nullptr;
    std::unique_ptr<std::thread> m_pReadThread;
    std::uint32_t m_txTarget = 0;  // send ring position the last queued bytes end at
    std::string m_strDevicePath;
};

// Module state shared by the operations above and the read thread.
extern RingBuffer g_rxRing;  // receiver -> frame
extern RingBuffer g_txRing;  // callers -> read thread
extern std::atomic<bool> g_bReaderRun;
extern std::atomic<bool> g_bReaderAlive;
// Read threads started since the program began (diagnostics and tests).
extern std::atomic<int> g_nReaderStarts;
