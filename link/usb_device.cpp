#include "usb_device.h"

#include <cstdio>
#include <utility>

UsbContext MakeUsbContext() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) return nullptr;
    return UsbContext(context, [](libusb_context* c) { libusb_exit(c); });
}

std::string UsbDevicePath(libusb_device* device) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return path;
}

std::shared_ptr<UsbDevice> UsbDevice::Open(const UsbContext& context, const std::string& path) {
    if (!context) return nullptr;
    unsigned bus = 0, address = 0;
    char tail = 0;
    if (std::sscanf(path.c_str(), "/dev/bus/usb/%u/%u%c", &bus, &address, &tail) != 2) {
        return nullptr;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) == bus &&
            libusb_get_device_address(list[i]) == address) {
            if (libusb_open(list[i], &handle) != LIBUSB_SUCCESS) handle = nullptr;
            break;
        }
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    if (!handle) return nullptr;
    return std::shared_ptr<UsbDevice>(new UsbDevice(context, handle));
}

UsbDevice::UsbDevice(UsbContext context, libusb_device_handle* handle)
    : m_context(std::move(context)), m_handle(handle) {}

UsbDevice::~UsbDevice() {
    std::lock_guard lock(m_mutex);
    ReleaseLocked();
}

bool UsbDevice::Claim() {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(libusb_get_device(m_handle), &config) !=
        LIBUSB_SUCCESS) {
        return false;
    }
    const libusb_interface_descriptor* chosen = nullptr;
    for (int i = 0; i < config->bNumInterfaces && !chosen; ++i) {
        if (config->interface[i].num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
        bool bulkIn = false, bulkOut = false;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            ((ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? bulkIn : bulkOut) = true;
        }
        if (bulkIn && bulkOut) chosen = &alt;
    }

    bool result = chosen != nullptr;
    if (result) {
        const int number = chosen->bInterfaceNumber;
        // A vendor interface normally has no kernel driver; if one is bound, the
        // receiver is ours for as long as it is open.
        if (libusb_kernel_driver_active(m_handle, number) == 1) {
            libusb_detach_kernel_driver(m_handle, number);
        }
        result = libusb_claim_interface(m_handle, number) == LIBUSB_SUCCESS;
        if (result) m_nInterface = number;
    }
    for (int e = 0; result && e < chosen->bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& ep = chosen->endpoint[e];
        const int type = ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
        if (type == LIBUSB_TRANSFER_TYPE_BULK) {
            ((ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? m_pipes.in : m_pipes.out) =
                ep.bEndpointAddress;
        } else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
            m_pipes.interrupt = ep.bEndpointAddress;
        } else {
            result = false;
        }
    }
    libusb_free_config_descriptor(config);
    m_bReady.store(result, std::memory_order_release);
    return result;
}

bool UsbDevice::BeginUse() {
    std::lock_guard lock(m_mutex);
    if (m_bClosing || !m_handle) return false;
    ++m_nUsers;
    return true;
}

void UsbDevice::EndUse() {
    {
        std::lock_guard lock(m_mutex);
        --m_nUsers;
    }
    m_cv.notify_all();
}

void UsbDevice::ReleaseLocked() {
    if (!m_handle) return;
    if (m_nInterface >= 0) libusb_release_interface(m_handle, m_nInterface);
    m_nInterface = -1;
    libusb_close(m_handle);
    m_handle = nullptr;
    m_bReady.store(false, std::memory_order_release);
}

void UsbDevice::Wake() {
    if (m_context) libusb_interrupt_event_handler(m_context.get());
}

void UsbDevice::Close(std::chrono::milliseconds bound) {
    {
        std::lock_guard lock(m_mutex);
        m_bClosing = true;
        for (libusb_transfer* transfer : m_inFlight) libusb_cancel_transfer(transfer);
    }
    Wake();
    std::unique_lock lock(m_mutex);
    // A cancelled transfer completes within a few event-loop turns; past the
    // bound the read thread still holds the handle and its last reference
    // releases it.
    if (m_cv.wait_for(lock, bound, [this] { return m_nUsers == 0; })) ReleaseLocked();
}

UsbIo UsbDevice::Write(const std::uint8_t* bytes, int length, std::chrono::milliseconds timeout,
                       int* written) {
    // libusb does not write through the buffer of an OUT transfer.
    return Transfer(m_pipes.out, const_cast<std::uint8_t*>(bytes), length, timeout, written,
                    nullptr);
}

UsbIo UsbDevice::Read(std::uint8_t* buffer, int size, std::chrono::milliseconds timeout, int* count,
                      const std::function<bool()>& idle) {
    return Transfer(m_pipes.in, buffer, size, timeout, count, &idle);
}

static void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
    *static_cast<int*>(transfer->user_data) = 1;
}

UsbIo UsbDevice::Transfer(std::uint8_t endpoint, std::uint8_t* buffer, int length,
                          std::chrono::milliseconds timeout, int* actual,
                          const std::function<bool()>* idle) {
    *actual = 0;
    if (!Ready() || !BeginUse()) return UsbIo::Closed;
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (!transfer) {
        EndUse();
        return UsbIo::Failed;
    }
    int completed = 0;
    libusb_fill_bulk_transfer(transfer, m_handle, endpoint, buffer, length, OnTransferDone,
                              &completed, static_cast<unsigned>(timeout.count()));
    int rc;
    {
        std::lock_guard lock(m_mutex);
        rc = m_bClosing ? LIBUSB_ERROR_INTERRUPTED : libusb_submit_transfer(transfer);
        if (rc == LIBUSB_SUCCESS) m_inFlight.push_back(transfer);
    }
    if (rc != LIBUSB_SUCCESS) {
        libusb_free_transfer(transfer);
        EndUse();
        if (rc == LIBUSB_ERROR_NO_DEVICE) m_bGone.store(true, std::memory_order_release);
        return rc == LIBUSB_ERROR_NO_DEVICE ? UsbIo::Gone : UsbIo::Failed;
    }

    bool cancelled = false;
    while (!completed) {
        timeval slice{0, 100000};
        const int handled =
            libusb_handle_events_timeout_completed(m_context.get(), &slice, &completed);
        if (completed) break;
        if (!cancelled && (handled < 0 || (idle && !(*idle)()))) {
            libusb_cancel_transfer(transfer);
            cancelled = true;
        }
    }

    {
        std::lock_guard lock(m_mutex);
        std::erase(m_inFlight, transfer);
    }
    *actual = transfer->actual_length;
    const libusb_transfer_status status = transfer->status;
    libusb_free_transfer(transfer);

    UsbIo result = UsbIo::Failed;
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            result = UsbIo::Ok;
            break;
        case LIBUSB_TRANSFER_TIMED_OUT:
            result = UsbIo::TimedOut;
            break;
        case LIBUSB_TRANSFER_NO_DEVICE:
            m_bGone.store(true, std::memory_order_release);
            result = UsbIo::Gone;
            break;
        case LIBUSB_TRANSFER_STALL:
            // Cleared once here; the next pass tries the pipe again, so a pipe
            // that keeps stalling costs one clear per pass, never a loop.
            result = libusb_clear_halt(m_handle, endpoint) == LIBUSB_SUCCESS ? UsbIo::Stalled
                                                                             : UsbIo::Failed;
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            result = UsbIo::Closed;
            break;
        default:
            break;
    }
    EndUse();
    return result;
}
