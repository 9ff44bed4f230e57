#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What a link tells the one who owns it. The serial link calls on the
// owner's thread, from its event loop. The USB link calls from its own
// thread; the owner then queues a call to its own thread and never makes the
// link wait for it.
class ILinkListener {
public:
    virtual ~ILinkListener() = default;
    // Received bytes wait in the link. Raised on the edge: once after the
    // owner's last Read, however many bytes follow, so the owner reads until
    // Read gives 0 and then waits for the next notice. Never raised from
    // within a call the owner makes into the link; the owner may close the
    // link from within it.
    virtual void OnLinkDataReady() = 0;
    // A link step failed ("WARNING: ... Port: n"). lineLost: the far end
    // hung up or the device left; nothing more comes or goes on this link.
    // A step the owner's own call makes (Open's configuration, SetSpeed, a
    // Write or a Read that finds the line gone) is reported from within that
    // call: the owner acts on it once its own step is done, and never closes
    // the link from within this call.
    virtual void OnLinkError(const std::string& text, bool lineLost) = 0;
    // USB: the link's thread has found and opened the receiver's device, so
    // bytes written now reach it. A device that leaves comes as a lost line.
    virtual void OnLinkReady() {}
};

enum class LinkKind { Serial, Usb };

// Why an open failed, where the operator can act on it.
enum class LinkRefusal {
    None,
    PermissionDenied,  // the user may not open the device
    Console,           // the kernel's console: never opened unless named explicitly
    Other,
};

// One receiver link as the update engine owns it: a serial port or the USB
// device. Everything here runs on the owner's thread.
class ILink {
public:
    virtual ~ILink() = default;
    virtual LinkKind Kind() const = 0;
    // Serial: opens the port at 115200 8N1; false when it did not open (see
    // Refusal). USB: true always; the device may arrive later (IsReady).
    virtual bool Open(ILinkListener* listener) = 0;
    // Bytes written now can reach the receiver.
    virtual bool IsReady() const = 0;
    // USB: asks the link's thread to look for the device again when it is
    // not open (the receiver re-enumerates as its loader after a restart) and
    // returns at once; OnLinkReady follows when it is found. Serial: nothing.
    virtual bool Reattach() { return IsReady(); }
    // Hands the bytes over and returns before they are on the wire.
    virtual void Write(const std::uint8_t* bytes, std::size_t length) = 0;
    // Serial: changes the line speed at once. USB: nothing.
    virtual void SetSpeed(std::uint32_t baud) = 0;
    // Everything written so far has left the host. Never waits.
    virtual bool IsWritten() { return true; }
    // USB: lets the device go after the reset text and stops looking for one
    // until Reattach; it comes back as the loader. Serial: nothing.
    virtual void Release() {}
    // Lets the device go (and stops the USB link's thread); no notice comes
    // after it returns.
    virtual void Close() = 0;
    // Clears the pending notice and takes up to size received bytes, in the
    // order they arrived.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t size) = 0;
    virtual LinkRefusal Refusal() const { return LinkRefusal::None; }
    // The device for messages: "/dev/ttyUSB0", or the USB device's node.
    virtual std::string Device() const = 0;
};
