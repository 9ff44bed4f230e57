#pragma once

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A link's libusb context; each device it opens keeps a reference, so the
// context outlives every device, whichever thread lets go last.
using UsbContext = std::shared_ptr<libusb_context>;
UsbContext MakeUsbContext();

// Endpoint addresses of alternate setting 0 of the claimed interface.
struct UsbPipes {
    std::uint8_t in = 0;
    std::uint8_t out = 0;
    std::uint8_t interrupt = 0;
};

enum class UsbIo { Ok, TimedOut, Stalled, Gone, Closed, Failed };

// One opened receiver. The link's thread opens and claims it and runs the
// transfers; the owner's thread (or the link's, for a device that left)
// closes it. Close() never frees the handle while the read
// thread is inside a libusb call on it: it cancels what is in flight, waits a
// bounded time for the thread to leave, and otherwise leaves the release to
// whichever side drops the last reference.
class UsbDevice {
public:
    // path is the usbfs node, "/dev/bus/usb/BBB/DDD". Null when it is not there
    // or cannot be opened.
    static std::shared_ptr<UsbDevice> Open(const UsbContext& context, const std::string& path);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    // Link thread, right after Open. Claims the first interface whose alternate
    // setting 0 has a bulk IN and a bulk OUT endpoint and sorts its endpoints
    // into pipes. False when there is no such interface, the claim fails or an
    // endpoint is neither bulk nor interrupt; Ready() turns true only on success.
    bool Claim();
    const UsbPipes& Pipes() const { return m_pipes; }
    bool Ready() const { return m_bReady.load(std::memory_order_acquire); }
    // The device went away (LIBUSB_ERROR_NO_DEVICE); it will not come back.
    bool Gone() const { return m_bGone.load(std::memory_order_acquire); }
    libusb_device_handle* Handle() const { return m_handle; }

    // Read thread only. Bulk OUT of length bytes; *written gets what went out.
    UsbIo Write(const std::uint8_t* bytes, int length, std::chrono::milliseconds timeout,
                int* written);
    // Read thread only. Bulk IN of up to size bytes. While it waits, idle() runs
    // after every wake-up (it may call Write); returning false abandons the read.
    UsbIo Read(std::uint8_t* buffer, int size, std::chrono::milliseconds timeout, int* count,
               const std::function<bool()>& idle);
    // The owner's thread: see the class comment. Idempotent.
    void Close(std::chrono::milliseconds bound);

private:
    UsbDevice(UsbContext context, libusb_device_handle* handle);
    // Makes the read thread's event handling return at once.
    void Wake();
    UsbIo Transfer(std::uint8_t endpoint, std::uint8_t* buffer, int length,
                   std::chrono::milliseconds timeout, int* actual,
                   const std::function<bool()>* idle);
    bool BeginUse();
    void EndUse();
    void ReleaseLocked();

    UsbContext m_context;
    libusb_device_handle* m_handle = nullptr;
    int m_nInterface = -1;  // claimed interface, -1 when none
    UsbPipes m_pipes;
    std::atomic<bool> m_bReady{false};
    std::atomic<bool> m_bGone{false};

    // Guards the handle's lifetime against the read thread's use of it.
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bClosing = false;
    int m_nUsers = 0;
    std::vector<libusb_transfer*> m_inFlight;
};

// "/dev/bus/usb/BBB/DDD" for a device; the form FindDevicePath hands out and
// UsbDevice::Open takes.
std::string UsbDevicePath(libusb_device* device);
