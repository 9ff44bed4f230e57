#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <variant>
#include <vector>

#include "imageconfig.h"
#include "link.h"

// How an update ended, for the faces that must act on it.
enum class UpdateOutcome {
    Completed,    // "Completed!": the receiver confirmed a CPU update
    BootSent,     // every block of a boot update and its checksum were acknowledged
    NoFirmware,   // no image for the part number; nothing was sent
    LinkLost,     // the line dropped or the device left
    Unconfirmed,  // the receiver did not report the end of its flash write in time
    Interrupted,  // Disconnect while an update was under way
};

// Where a connection stands, as the faces show it and the stall rules see it.
enum class EnginePhase {
    Disconnected,
    Identifying,    // the version record is asked for
    Idle,           // connected, nothing under way
    Polling,        // the receiver restarts; its loader is polled
    AwaitingStart,  // "AT" sent, its answer not yet in
    Sending,        // blocks go out
    FlashWrite,     // everything acknowledged; the receiver writes its flash
    Verifying,      // confirmed; the receiver restarts and is asked for its versions
};

// What an engine reports, as data. Faces act on the data; the message list's
// lines come from ListLines, the one place that words them.
namespace ev {

struct ListCleared {};  // Connect
struct ReceiverIdentified {
    QString serial, cpu, fpga, boot;
};
struct IdentificationEnded {
    bool recordFound;
};
struct PortRefused {
    LinkRefusal why;
    int comPort;
    QString device;
};
struct Restarting {};  // Update, or a restart the receiver asked for
struct RestartBegun {
    bool usb;
    int comPort;
    bool usbDeviceReady;  // USB: the reboot text goes; else the operator reboots by hand
};
struct RestartSent {  // serial: the reset text went
    bool manual;
};
struct LoaderFound {
    QString partNumber, serial;
    bool bootOffered;
};
struct BootStarting {};
// An image as it goes out: its bytes' SHA-256 (a boot image's after its
// serial number was written into it), for an auditor to match.
struct SentImage {
    QString type;  // "CPU", "FPGA", "BOOT"
    std::uint16_t id;
    qint64 size;
    QString sha256;  // lower-case hex
};
struct TransferStarted {
    bool boot;
    QString partNumber;
    bool echoPartNumber;    // it begins with the series prefix
    bool fpgaImageMissing;  // the FPGA rule holds but the package has no image
    bool hasPackage;
    bool builtinPackage;
    QString packageName, packageFolder;
    qint64 totalBytes;
    std::vector<SentImage> images;  // in the order they go out
};
struct BlockSent {
    std::uint32_t offset;
    bool first;
    qint64 done, total;  // image bytes taken so far, of all the run's images
};
struct AllSent {
    bool boot;
};
struct FlashWriteWaited {
    qint64 waitedMs;
};
struct Stalled {
    EnginePhase phase;
    qint64 silentMs;
};
struct Finished {
    UpdateOutcome outcome;
    QString detail;          // what went wrong, in words; empty for a success
    bool verifying = false;  // a check of the versions follows (Verified)
};
// The receiver back in its firmware after a confirmed update.
struct Verified {
    enum class Result {
        Matches,   // it runs the versions the package brings
        Differs,   // it runs others
        NoAnswer,  // it did not report within the time
    };
    Result result;
    FirmwareVersions reported;  // as its version record says
    FirmwareVersions expected;  // the package's, for what was sent
    qint64 waitedMs;
};
struct LineClosed {  // the receiver took the line along while nothing was under way
    QString device;
};
struct Note {  // a face's own line
    QString text;
};

}  // namespace ev

using EngineEvent = std::variant<ev::ListCleared, ev::ReceiverIdentified, ev::IdentificationEnded,
                                 ev::PortRefused, ev::Restarting, ev::RestartBegun, ev::RestartSent,
                                 ev::LoaderFound, ev::BootStarting, ev::TransferStarted,
                                 ev::BlockSent, ev::AllSent, ev::FlashWriteWaited, ev::Stalled,
                                 ev::Finished, ev::Verified, ev::LineClosed, ev::Note>;

// What an event does to the message list.
struct ListChange {
    enum class Op { None, Clear, Append, ReplaceLast };
    Op op = Op::None;
    QStringList lines;
    // Append: the last line is the address line, which each block replaces.
    bool lastReplaceable = false;
};

// The message list's words for an event, in the running language.
ListChange ListLines(const EngineEvent& event);

// "5.100 → 5.200" for what would change, "up to date" when nothing would;
// empty when the package states no versions or the receiver's are unknown.
QString VersionStepText(const FirmwareVersions& receiver, const FirmwareVersions& package);
// "CPU 5.200, FPGA 2.400": the versions stated, for the operator.
QString VersionsText(const FirmwareVersions& versions);
// The receiver runs every version the package states.
bool IsUpToDate(const FirmwareVersions& receiver, const FirmwareVersions& package);
