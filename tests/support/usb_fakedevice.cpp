#include "usb_fakedevice.h"

#include <linux/usbdevice_fs.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

struct FakeUsbDevice::Urb {
    UMockdevIoctlData* data = nullptr;  // the client's usbdevfs_urb, resolved
    unsigned long clientAddress = 0;
    std::uint8_t type = 0;
    std::uint8_t endpoint = 0;
    std::uint8_t* buffer = nullptr;  // client memory: the handler shares the address space
    int length = 0;
    bool ready = false;
    int status = 0;
    int actual = 0;
};

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

void PutUtf16(std::vector<std::uint8_t>* out, const std::string& text) {
    for (char c : text) {
        out->push_back(static_cast<std::uint8_t>(c));
        out->push_back(0);
    }
}

void PutLe32(std::vector<std::uint8_t>* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

constexpr std::uint8_t kVendorCode = 0x20;
// OUT bytes a stream may hold back before OUT transfers wait for it.
constexpr std::size_t kStreamBacklog = 64 * 1024;

}  // namespace

FakeUsbDevice::FakeUsbDevice(const FakeUsbConfig& config) : m_config(config) {
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect_after(m_handler, "handle-ioctl", G_CALLBACK(&FakeUsbDevice::OnIoctl), this);
}

FakeUsbDevice::~FakeUsbDevice() {
    for (auto& urb : m_urbs) umockdev_ioctl_data_unref(urb->data);
    g_object_unref(m_handler);
}

std::string FakeUsbDevice::DevNode() const {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", m_config.bus, m_config.address);
    return node;
}

std::string FakeUsbDevice::SysPath() const {
    char path[96];
    std::snprintf(path, sizeof path, "/sys/devices/pci0000:00/0000:00:14.0/usb%u/%u-%u",
                  m_config.bus, m_config.bus, m_config.address);
    return path;
}

std::string FakeUsbDevice::Description() const {
    const std::uint16_t vid = m_config.vendor, pid = m_config.product;
    const std::vector<std::uint8_t> descriptors = {
        // device
        0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, static_cast<std::uint8_t>(vid),
        static_cast<std::uint8_t>(vid >> 8), static_cast<std::uint8_t>(pid),
        static_cast<std::uint8_t>(pid >> 8), 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
        // configuration, one vendor interface, three endpoints
        0x09, 0x02, 0x27, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  //
        0x09, 0x04, 0x00, 0x00, 0x03, 0xff, 0x00, 0x00, 0x00,  //
        0x07, 0x05, 0x81, 0x02, 0x00, 0x02, 0x00,              // bulk IN 512
        0x07, 0x05, 0x02, 0x02, 0x00, 0x02, 0x00,              // bulk OUT 512
        0x07, 0x05, 0x83, 0x03, 0x08, 0x00, 0x08};             // interrupt IN
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: %s\nN: bus/usb/%03u/%03u\nE: SUBSYSTEM=usb\nE: DRIVER=usb\n"
                  "E: DEVNAME=/dev/bus/usb/%03u/%03u\nE: DEVTYPE=usb_device\n"
                  "E: BUSNUM=%03u\nE: DEVNUM=%03u\nA: busnum=%u\\n\nA: devnum=%u\\n\n"
                  "A: speed=480\\n\nA: bConfigurationValue=1\\n\nA: idVendor=%04x\\n\n"
                  "A: idProduct=%04x\\n\nH: descriptors=%s\n",
                  SysPath().substr(4).c_str(), m_config.bus, m_config.address, m_config.bus,
                  m_config.address, m_config.bus, m_config.address, m_config.bus, m_config.address,
                  vid, pid, Hex(descriptors).c_str());
    return text;
}

void FakeUsbDevice::Bump(const std::string& what) {
    for (auto& [name, n] : m_counts) {
        if (name == what) {
            ++n;
            return;
        }
    }
    m_counts.emplace_back(what, 1);
}

int FakeUsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    // umockdev's thread, named so that a benchmark can tell the bus's CPU
    // from the updater's.
    thread_local const bool named = pthread_setname_np(pthread_self(), "fake-usb-bus") == 0;
    (void)named;
    return static_cast<FakeUsbDevice*>(self)->Handle(client);
}

bool FakeUsbDevice::Handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock lock(m_mutex);
    if (m_bUnplugged && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
            *reinterpret_cast<guint32*>(caps->data) =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            umockdev_ioctl_client_complete(client, 0, 0);
            umockdev_ioctl_data_unref(caps);
            return true;
        }
        case USBDEVFS_GETDRIVER:
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return true;
        case USBDEVFS_CLAIMINTERFACE:
            Bump("claim");
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_RELEASEINTERFACE:
            Bump("release");
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_CLEAR_HALT:
            Bump("clear_halt");
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_SUBMITURB:
            Submit(client);
            m_cv.notify_all();
            return true;
        case USBDEVFS_DISCARDURB: {
            const unsigned long address = *reinterpret_cast<unsigned long*>(arg->data);
            for (auto& urb : m_urbs) {
                if (urb->clientAddress == address && !urb->ready) {
                    urb->ready = true;
                    urb->status = -ENOENT;
                    urb->actual = 0;
                    Bump("discard");
                    umockdev_ioctl_client_complete(client, 0, 0);
                    m_cv.notify_all();
                    return true;
                }
            }
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return true;
        }
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            Reap(client);
            return true;
        default:
            return false;
    }
}

bool FakeUsbDevice::ControlReply(const std::uint8_t* setup, std::vector<std::uint8_t>* data) {
    const std::uint8_t requestType = setup[0], request = setup[1];
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
    const std::uint16_t index = static_cast<std::uint16_t>(setup[4] | (setup[5] << 8));
    if (m_config.interfaceClass.empty()) return false;
    if (requestType == 0x80 && request == 6 && value == 0x03EE) {
        *data = {0x12, 0x03};
        PutUtf16(data, "MSFT100");
        data->push_back(kVendorCode);
        data->push_back(0);
        return true;
    }
    if (requestType == 0xC1 && request == kVendorCode && index == 5 && (value >> 8) == 0) {
        std::vector<std::uint8_t> name, guid;
        PutUtf16(&name, std::string("DeviceInterfaceGUID") + '\0');
        PutUtf16(&guid, m_config.interfaceClass + '\0');
        std::vector<std::uint8_t> section;
        PutLe32(&section, static_cast<std::uint32_t>(14 + name.size() + guid.size()));
        PutLe32(&section, 1);
        section.push_back(static_cast<std::uint8_t>(name.size()));
        section.push_back(0);
        section.insert(section.end(), name.begin(), name.end());
        PutLe32(&section, static_cast<std::uint32_t>(guid.size()));
        section.insert(section.end(), guid.begin(), guid.end());
        data->clear();
        PutLe32(data, static_cast<std::uint32_t>(10 + section.size()));
        data->insert(data->end(), {0x00, 0x01, 0x05, 0x00, 0x01, 0x00});
        data->insert(data->end(), section.begin(), section.end());
        return true;
    }
    return false;
}

void FakeUsbDevice::Submit(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto* u = reinterpret_cast<usbdevfs_urb*>(data->data);
    auto urb = std::make_unique<Urb>();
    urb->data = data;
    urb->clientAddress = data->client_addr;
    urb->type = u->type;
    urb->endpoint = u->endpoint;
    urb->buffer = static_cast<std::uint8_t*>(u->buffer);
    urb->length = u->buffer_length;

    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && m_config.silentControl) {
        Bump("control_ignored");  // completes only when the host discards it
    } else if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        std::vector<std::uint8_t> reply;
        const std::uint16_t wLength =
            static_cast<std::uint16_t>(urb->buffer[6] | (urb->buffer[7] << 8));
        if (ControlReply(urb->buffer, &reply)) {
            const int n = std::min<int>(static_cast<int>(reply.size()), wLength);
            std::memcpy(urb->buffer + 8, reply.data(), n);
            urb->actual = n;
            urb->status = 0;
        } else {
            urb->status = -EPIPE;
        }
        urb->ready = true;
    } else if (urb->endpoint & 0x80) {
        Bump("submit_in");
    } else {
        Bump("submit_out");
        m_outSizes.push_back(urb->length);
        m_outTimes.push_back(std::chrono::steady_clock::now());
    }
    m_urbs.push_back(std::move(urb));
    umockdev_ioctl_client_complete(client, 0, 0);
}

void FakeUsbDevice::PumpStreamLocked() {
    if (m_stream < 0) return;
    while (!m_toStream.empty()) {
        const ssize_t n =
            send(m_stream, m_toStream.data(), m_toStream.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0) break;
        m_toStream.erase(m_toStream.begin(), m_toStream.begin() + n);
    }
    // What the far end has sent waits here for IN transfers; a bounded take
    // leaves the rest in the socket, where it pushes back on the sender.
    if (m_toHost.size() < kStreamBacklog) {
        std::uint8_t chunk[4096];
        const ssize_t n = recv(m_stream, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) m_toHost.insert(m_toHost.end(), chunk, chunk + n);
    }
}

FakeUsbDevice::Urb* FakeUsbDevice::ReadyUrbLocked() {
    PumpStreamLocked();
    for (auto& urb : m_urbs) {
        if (urb->ready) return urb.get();
        if (urb->type != USBDEVFS_URB_TYPE_BULK) continue;
        if (urb->endpoint & 0x80) {
            if (m_bStallIn) {
                m_bStallIn = false;
                urb->status = -EPIPE;
                urb->ready = true;
                return urb.get();
            }
            if (!m_toHost.empty()) {
                const int n = std::min<int>(urb->length, static_cast<int>(m_toHost.size()));
                std::copy_n(m_toHost.begin(), n, urb->buffer);
                m_toHost.erase(m_toHost.begin(), m_toHost.begin() + n);
                urb->actual = n;
                urb->status = 0;
                urb->ready = true;
                return urb.get();
            }
        } else if (m_outBudget != 0 && m_toStream.size() < kStreamBacklog) {
            if (m_outBudget > 0) --m_outBudget;
            m_received.insert(m_received.end(), urb->buffer, urb->buffer + urb->length);
            if (m_stream >= 0) {
                m_toStream.insert(m_toStream.end(), urb->buffer, urb->buffer + urb->length);
                PumpStreamLocked();
            } else if (m_config.reply == FakeReply::Echo) {
                m_toHost.insert(m_toHost.end(), urb->buffer, urb->buffer + urb->length);
            } else if (m_config.reply == FakeReply::Ack10) {
                const std::uint8_t ack[10] = {'$', '$', 'S', 'X', 21, 1, 1, 0x5b, '\r', '\n'};
                m_toHost.insert(m_toHost.end(), ack, ack + sizeof ack);
            }
            urb->actual = urb->length;
            urb->status = 0;
            urb->ready = true;
            m_cv.notify_all();
            return urb.get();
        }
    }
    return nullptr;
}

void FakeUsbDevice::Reap(UMockdevIoctlClient* client) {
    Urb* urb = ReadyUrbLocked();
    if (!urb) {
        umockdev_ioctl_client_complete(client, -1, m_bUnplugged ? ENODEV : EAGAIN);
        return;
    }
    auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data->data);
    u->status = urb->status;
    u->actual_length = urb->actual;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(slot, 0, urb->data);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(slot);
    umockdev_ioctl_data_unref(urb->data);
    const auto it =
        std::find_if(m_urbs.begin(), m_urbs.end(), [urb](const auto& p) { return p.get() == urb; });
    m_urbs.erase(it);
}

void FakeUsbDevice::Send(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(m_mutex);
    m_toHost.insert(m_toHost.end(), bytes.begin(), bytes.end());
}

void FakeUsbDevice::SetOutBudget(int budget) {
    std::lock_guard lock(m_mutex);
    m_outBudget = budget;
}

void FakeUsbDevice::AddOutBudget(int more) {
    std::lock_guard lock(m_mutex);
    if (m_outBudget >= 0) m_outBudget += more;
}

void FakeUsbDevice::StallNextIn() {
    std::lock_guard lock(m_mutex);
    m_bStallIn = true;
}

void FakeUsbDevice::AttachStream(int fd) {
    std::lock_guard lock(m_mutex);
    m_stream = fd;
    m_toStream.clear();
}

void FakeUsbDevice::Unplug() {
    std::lock_guard lock(m_mutex);
    m_bUnplugged = true;
    m_stream = -1;  // what was in flight dies with the device
    m_toStream.clear();
    m_toHost.clear();
    for (auto& urb : m_urbs) {
        if (!urb->ready) {
            urb->ready = true;
            urb->status = -ESHUTDOWN;
            urb->actual = 0;
        }
    }
}

std::vector<std::uint8_t> FakeUsbDevice::Received() {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<int> FakeUsbDevice::OutSizes() {
    std::lock_guard lock(m_mutex);
    return m_outSizes;
}

std::vector<std::chrono::steady_clock::time_point> FakeUsbDevice::OutTimes() {
    std::lock_guard lock(m_mutex);
    return m_outTimes;
}

int FakeUsbDevice::Count(const std::string& what) {
    std::lock_guard lock(m_mutex);
    for (const auto& [name, n] : m_counts) {
        if (name == what) return n;
    }
    return 0;
}

bool FakeUsbDevice::WaitReceived(std::size_t n, std::chrono::milliseconds guard) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, guard, [&] { return m_received.size() >= n; });
}

bool FakeUsbDevice::WaitOutSubmitted(int n, std::chrono::milliseconds guard) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, guard, [&] { return static_cast<int>(m_outSizes.size()) >= n; });
}

bool FakeUsbDevice::WaitCount(const std::string& what, int n, std::chrono::milliseconds guard) {
    const auto until = std::chrono::steady_clock::now() + guard;
    while (Count(what) < n) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

FakeUsbBus::FakeUsbBus() {
    m_testbed = umockdev_testbed_new();
}

FakeUsbBus::~FakeUsbBus() {
    m_devices.clear();
    g_object_unref(m_testbed);
}

FakeUsbDevice* FakeUsbBus::Add(const FakeUsbConfig& config) {
    auto device = std::make_unique<FakeUsbDevice>(config);
    // The handler goes first, so that the device can be opened the moment it
    // appears.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, device->DevNode().c_str(), device->Handler(),
                                       &error)) {
        std::fprintf(stderr, "attach_ioctl: %s\n", error ? error->message : "?");
        g_clear_error(&error);
        return nullptr;
    }
    if (!umockdev_testbed_add_from_string(m_testbed, device->Description().c_str(), &error)) {
        std::fprintf(stderr, "add_from_string: %s\n", error ? error->message : "?");
        g_clear_error(&error);
        return nullptr;
    }
    umockdev_testbed_uevent(m_testbed, device->SysPath().c_str(), "add");
    m_devices.push_back(std::move(device));
    return m_devices.back().get();
}

void FakeUsbBus::Remove(FakeUsbDevice* device) {
    // The event goes first: its listeners read the device's properties.
    umockdev_testbed_uevent(m_testbed, device->SysPath().c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, device->SysPath().c_str());
}

void RunUnderUmockdev(int argc, char** argv) {
    (void)argc;
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload")) return;
    std::string value = "libumockdev-preload.so.0";
    if (preload && *preload) value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    // The preload comes before the ASan runtime; ASan must not refuse that.
    std::string asan = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old)
        asan = std::string(old) + ":" + asan;
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("execv /proc/self/exe");
    std::exit(1);
}
