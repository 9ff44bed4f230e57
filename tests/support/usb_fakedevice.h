#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

// What the emulated receiver does with the bytes it is sent.
enum class FakeReply { None, Echo, Ack10 };

struct FakeUsbConfig {
    unsigned bus = 1;
    unsigned address = 2;
    std::uint16_t vendor = 0x1234;
    std::uint16_t product = 0x5678;
    std::string interfaceClass;  // published through MS OS 1.0 descriptors; empty: none
    FakeReply reply = FakeReply::Echo;
    // A device that never answers a control request: its control URBs stay
    // pending until the host gives up on them.
    bool silentControl = false;

    FakeUsbConfig& At(unsigned a) {
        address = a;
        return *this;
    }
    FakeUsbConfig& Ids(std::uint16_t v, std::uint16_t p) {
        vendor = v;
        product = p;
        return *this;
    }
    FakeUsbConfig& Class(std::string c) {
        interfaceClass = std::move(c);
        return *this;
    }
    FakeUsbConfig& Reply(FakeReply r) {
        reply = r;
        return *this;
    }
    FakeUsbConfig& SilentControl() {
        silentControl = true;
        return *this;
    }
};

// One emulated receiver loader behind usbdevfs: bulk OUT 0x02, bulk IN 0x81,
// interrupt IN 0x83 on a vendor interface. The ioctl handler runs on umockdev's
// thread; everything here is guarded by one mutex and nothing blocks in it.
class FakeUsbDevice {
public:
    explicit FakeUsbDevice(const FakeUsbConfig& config);
    ~FakeUsbDevice();
    const FakeUsbConfig& Config() const { return m_config; }
    std::string DevNode() const;
    std::string SysPath() const;
    std::string Description() const;

    // Test side.
    void Send(const std::vector<std::uint8_t>& bytes);  // queue bytes for the host
    // Complete at most this many more OUT transfers (-1: no limit).
    void SetOutBudget(int budget);
    void AddOutBudget(int more);
    void StallNextIn();
    // From now on bulk OUT bytes are written to fd and bulk IN carries what fd
    // gives, instead of the reply mode; fd is a non-blocking stream socket
    // that the caller keeps open until Unplug. A full socket holds OUT
    // transfers back; an IN transfer completes once bytes are there.
    void AttachStream(int fd);
    void Unplug();  // every further ioctl fails with ENODEV, pending URBs end
    std::vector<std::uint8_t> Received();
    std::vector<int> OutSizes();  // length of each OUT URB submitted
    // "claim", "release", "clear_halt", "discard", "submit_in", "submit_out",
    // "control_ignored"
    int Count(const std::string& what);
    // Waits (guard bound) until at least n bytes were received / n OUT URBs submitted.
    bool WaitReceived(std::size_t n, std::chrono::milliseconds guard = std::chrono::seconds(20));
    bool WaitOutSubmitted(int n, std::chrono::milliseconds guard = std::chrono::seconds(20));
    bool WaitCount(const std::string& what, int n,
                   std::chrono::milliseconds guard = std::chrono::seconds(20));
    // Time each OUT URB was submitted, for the benchmark.
    std::vector<std::chrono::steady_clock::time_point> OutTimes();

    UMockdevIoctlBase* Handler() const { return m_handler; }

private:
    struct Urb;
    static int OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool Handle(UMockdevIoctlClient* client);
    void Submit(UMockdevIoctlClient* client);
    void Reap(UMockdevIoctlClient* client);
    bool ControlReply(const std::uint8_t* setup, std::vector<std::uint8_t>* data);
    Urb* ReadyUrbLocked();
    void PumpStreamLocked();
    void Bump(const std::string& what);

    FakeUsbConfig m_config;
    UMockdevIoctlBase* m_handler = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bUnplugged = false;
    bool m_bStallIn = false;
    int m_outBudget = -1;
    std::deque<std::uint8_t> m_toHost;
    int m_stream = -1;
    std::vector<std::uint8_t> m_toStream;  // OUT bytes the socket has not taken yet
    std::vector<std::uint8_t> m_received;
    std::vector<int> m_outSizes;
    std::vector<std::chrono::steady_clock::time_point> m_outTimes;
    std::vector<std::pair<std::string, int>> m_counts;
    std::deque<std::unique_ptr<Urb>> m_urbs;  // submitted, not yet reaped
};

// A umockdev testbed holding emulated receivers. Needs the umockdev preload.
class FakeUsbBus {
public:
    FakeUsbBus();
    ~FakeUsbBus();
    // Each add and remove is announced with a uevent, as the kernel does.
    FakeUsbDevice* Add(const FakeUsbConfig& config);
    // Takes the device off the bus (sysfs and node); Unplug it first.
    void Remove(FakeUsbDevice* device);

private:
    UMockdevTestbed* m_testbed = nullptr;
    std::vector<std::unique_ptr<FakeUsbDevice>> m_devices;
};

// Re-executes the running test binary under the umockdev preload unless it
// already runs under it. Call first thing in main().
void RunUnderUmockdev(int argc, char** argv);
