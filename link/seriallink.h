#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comports.h"
#include "link.h"
#include "serialtty.h"

class QSocketNotifier;

struct SerialLinkSettings {
    unsigned comPort = 0;  // the number the port's reports carry ("Port: n")
    std::string device;    // absolute path of the tty to open
    // The operator named this device (command line, settings file group
    // "Ports") rather than it coming from the default COM map. Only a named
    // device may be the kernel's console.
    bool deviceNamed = false;
};

// The receiver's serial port as an ILink at 115200 8N1, on its owner's
// thread: a non-blocking tty watched by socket notifiers of the thread that
// opens it, and no thread of its own. Received bytes stay in the tty until
// the owner reads them; a write goes to the tty at once, and what the tty
// cannot take yet follows when it has room.
class CSerialLink : public ILink {
public:
    // consoleList: where the console ttys are listed (see IsConsoleTty).
    // flagsIoctl: the serial-flags requests (see SerialFlagsIoctl).
    explicit CSerialLink(SerialLinkSettings settings, std::string consoleList = kConsoleTtyList,
                         SerialFlagsIoctl flagsIoctl = {});
    ~CSerialLink() override;
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    LinkKind Kind() const override { return LinkKind::Serial; }
    bool Open(ILinkListener* listener) override;
    bool IsReady() const override { return m_fd >= 0; }
    // A write longer than 512 bytes, or one that finds the bytes before it
    // still waiting and no room beside them, is refused whole: a truncated
    // frame is only noise to the receiver.
    void Write(const std::uint8_t* bytes, std::size_t length) override;
    void SetSpeed(std::uint32_t baud) override;
    bool IsWritten() override;
    void Close() override;
    std::size_t Read(std::uint8_t* buffer, std::size_t size) override;
    LinkRefusal Refusal() const override { return m_refusal; }
    std::string Device() const override { return m_settings.device; }

private:
    bool OpenTty();
    void OnReadable();
    void OnWritable();
    void PurgeBeforeWrite();
    void KeepUnreadInput();
    // Hands bytes to the tty until it takes no more; *taken says how many it
    // took. Returns the error of a write that failed, else 0.
    int Send(const std::uint8_t* bytes, std::size_t length, std::size_t* taken);
    void WriteFailed(int error);
    void Fail(const char* step, int error);
    void LoseLine(const char* step, int error);

    const SerialLinkSettings m_settings;
    const std::string m_consoleList;
    CLowLatency m_lowLatency;
    ILinkListener* m_pListener = nullptr;
    LinkRefusal m_refusal = LinkRefusal::None;
    int m_fd = -1;  // the tty, -1 when closed
    // Both exist while the tty is open; deleting them drops their queued
    // calls too, so nothing is told after Close.
    std::unique_ptr<QSocketNotifier> m_pReadable;
    std::unique_ptr<QSocketNotifier> m_pWritable;  // on while m_tx holds bytes
    // A data notice went out and no Read has come since.
    bool m_bNotified = false;
    bool m_bLineLost = false;  // hang-up seen and reported: nothing more comes or goes
    // Input a write's purge would have discarded, read first.
    std::vector<std::uint8_t> m_held;
    std::size_t m_nHeldPos = 0;
    std::vector<std::uint8_t> m_tx;  // bytes the tty has not taken yet, in order
};
