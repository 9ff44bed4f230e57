#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simblock.h"
#include "simframe.h"
#include "simpty.h"

namespace qsim {

// How the simulated Z4 receiver behaves. Defaults give a well-behaved board
// of the loader family with a boot loader that listens at 115200.
struct SimOptions {
    // Firmware (text dialect).
    std::string serialNumber = "Z4A00417";  // token 2 of the version record, 8 characters
    std::string cpuVersion = "5.100";
    std::string fpgaVersion = "2.300";
    std::string bootVersion = "3.100";  // also decides the loader's line speed
    std::string recordText;             // not empty: sent verbatim as the "log version" answer
    bool answerVersion = true;          // false: a receiver that never answers "log version"
    // Not empty: what the firmware reports once an update has completed.
    std::string cpuVersionAfter, fpgaVersionAfter;
    std::string noiseBefore;   // text sent just before the record
    std::string noiseAfter;    // text sent just after it
    int recordPieces = 1;      // writes the answer is cut into
    int recordPieceGapMs = 5;  // pause between those writes
    // Bytes that arrive while the updater's line speed differs from the one
    // listened at are dropped, as a real line would garble them.
    bool checkSpeed = true;

    // Restart into the loader. The updater sends the reset text at 115200 and
    // may drop to 9600 100 ms later; the loader comes up after this delay and
    // drops anything that arrives meanwhile.
    int loaderStartDelayMs = 150;
    // The board starts in its loader, as one just powered up (rebooted by
    // hand) listens for a poll before anything else.
    bool startInLoader = false;

    // Loader.
    std::string partNumber = "Q4B1C20";
    std::string loaderSerial;  // empty: "123456" in the loader family, else "12345678"
    std::string loaderFamily = "Q4B1";
    bool offerBootUpdate = false;   // '-' at offsets 19 and 22 of the identification
    int ssReplyLength = 32;         // identification payload length (below 25 on purpose: short)
    int ssFramePayload = 55;        // a longer identification goes out in frames this long
    std::uint8_t replyKind = 0x11;  // kind byte of the loader's frames (bit 3 clear)
    int completionDelayMs = 100;    // checksum block acknowledged -> "SC" / "VX"

    // Faults. Block numbers count every "SX" frame received since Start(), from 1.
    int nakEvery = 0;             // every Nth new block is answered negatively; its resend is taken
    int corruptAckAt = 0;         // the ack of this block goes out with a wrong checksum
    int dropAckByteAt = 0;        // the ack of this block goes out without its line feed
    bool interleaveSt = false;    // an "ST" frame before every ack
    bool interleaveBit3 = false;  // a negative "SX" whose kind has bit 3 set before every ack
    bool interleaveText = false;  // a line of text (no "$$") before every ack
    int silentAfterBlocks = 0;    // answers nothing from block N+1 on, until a reset text
    int hangUpAfterBlocks = 0;    // closes the line when block N+1 arrives
    int forceVx = 0;              // answer this many good checksums with "VX" instead of "SC"
    bool pace = false;  // hold replies back by the wire time of what was sent and received
    // Every loader reply reaches the updater this much later, as a USB-serial
    // adapter's latency timer holds received bytes back.
    int replyDelayMs = 0;
    // Closes the line this long after "SC", as a board restarting into its
    // new firmware takes its port along; -1: the line stays.
    int hangUpAfterScMs = -1;

    // Where the images of every finished transfer are written (empty: nowhere),
    // as image1.bin (kind 21 blocks) and image2.bin (kind 20 blocks, if any).
    std::string recordDir;
    // A symbolic link to the device end, made on Start() and removed on Stop().
    std::string linkPath;
};

enum class SimMode { NotStarted, Firmware, Restarting, Loader, HungUp, Stopped };

// What the board does that a transport may have to show, e.g. a USB device
// that leaves the bus while the board restarts.
enum class SimEvent {
    Restarting,     // a reset was acted on: the board goes down
    LoaderStarted,  // its loader runs
    Completed,      // "SC" went out
    HungUp,         // the line is closed for good
};

struct SimFrameSeen {
    char type[2];
    std::uint8_t kind;
    std::uint8_t length;
};

// What the simulator saw and did, since Start().
struct SimStats {
    SimMode mode = SimMode::NotStarted;
    int listenBaud = 115200;  // the speed the receiver listens at now

    // Text dialect.
    int interfaceCommands = 0;  // "interfacemode quorvex quorvex on"
    int unlogallCommands = 0;
    int versionRequests = 0;  // "log version"
    int versionAnswers = 0;
    int usbResetCommands = 0;  // "tst usbcmdreset"
    int resets = 0;            // "reset" lines acted on
    int loaderStarts = 0;
    std::vector<std::string> textLines;  // every text line received, NULs removed

    // Loader.
    int ssPolls = 0;
    int ssAnswers = 0;
    int atFrames = 0;
    int sxFrames = 0;
    int cpuBlocks = 0;       // kind 21
    int fpgaBlocks = 0;      // kind 20
    int checksumBlocks = 0;  // kind 17
    int otherBlocks = 0;     // any other kind
    int positiveAcks = 0;
    int negativeAcks = 0;  // all negative acks, injected ones included
    int injectedNaks = 0;
    int transfersStarted = 0;  // first blocks (kind 21, offset 0) taken
    int scSent = 0;
    int vxSent = 0;
    int completedUpdates = 0;  // transfers closed with "SC"
    std::uint32_t lastChecksumReceived = 0;
    std::uint32_t lastChecksumComputed = 0;
    int lastChecksumOffset = -1;       // B3 * 256 + B4 of the last checksum block
    std::vector<SimFrameSeen> frames;  // every valid frame received, in order
    std::vector<std::uint8_t> frameKinds;

    // The line.
    std::vector<int> lineSpeeds;     // the updater's speed each time it was seen to change
    std::uint64_t ignoredBytes = 0;  // dropped: wrong speed, restarting, silent
    int badFrames = 0;
    std::vector<std::string> errors;  // every check a block failed, and anything unexpected
    std::vector<std::string> recordedFiles;
};

// The received image compared with the one that was meant to be sent.
struct ImageCheck {
    bool present = false;          // an image of that index was received
    std::size_t receivedSize = 0;  // whole blocks, pad included
    bool equal = false;            // first expected.size() bytes equal, pad shorter than a block
    std::size_t firstDifference = static_cast<std::size_t>(-1);
    std::vector<std::uint8_t> pad;  // received bytes beyond the expected size
};

ImageCheck CompareImage(const std::vector<std::uint8_t>& received,
                        const std::vector<std::uint8_t>& expected);

// A simulated Z4 receiver, served by its own thread: on a pseudo-terminal,
// or on a plain byte stream that another transport (an emulated USB device)
// carries.
class ReceiverSim {
public:
    explicit ReceiverSim(SimOptions options = {});
    ~ReceiverSim();
    ReceiverSim(const ReceiverSim&) = delete;
    ReceiverSim& operator=(const ReceiverSim&) = delete;

    // On a new pseudo-terminal; DevicePath() is the end the updater opens.
    bool Start(std::string* error = nullptr);
    // On fd, one end of a stream socket the caller made; the simulator owns
    // it from here on. A stream has no line speed, so no speed checks apply.
    bool StartOnStream(int fd, std::string* error = nullptr);
    // Called on the serving thread (a board that starts in its loader: within
    // the start), outside the simulator's lock; set it before starting. It
    // must return soon: the board waits for it.
    void SetObserver(std::function<void(SimEvent)> observer);
    void Stop();
    std::string DevicePath() const { return m_pty.path; }
    const SimOptions& Options() const { return m_options; }

    SimStats Stats() const;
    // Waits until pred holds or the time is up; true when it held. pred runs
    // under the simulator's lock on its live figures: keep it short and do not
    // call back into the simulator from it.
    bool WaitFor(const std::function<bool(const SimStats&)>& pred,
                 std::chrono::milliseconds timeout) const;
    // The images of the latest transfer, in offset order, as received (the
    // last block's pad bytes included): [0] kind 21, [1] kind 20 if sent.
    std::vector<std::vector<std::uint8_t>> Images() const;
    ImageCheck CheckImage(std::size_t index, const std::vector<std::uint8_t>& expected) const;
    // The serving thread has ended by itself (hang-up or a failed line).
    bool Finished() const { return m_finished.load(); }

private:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMaxKept = 1000000;  // frames and text lines kept for the record
    static constexpr std::size_t kMaxErrors = 1000;
    static constexpr std::size_t kMaxLine = 1024;

    bool StartServing(std::string* error);
    void Run();
    void CloseLine();
    ssize_t WriteLine(const std::uint8_t* bytes, std::size_t count);
    void Notify(SimEvent event);
    void OnBytes(const std::uint8_t* bytes, std::size_t count);
    void OnText(std::uint8_t byte);
    void OnLine(const std::string& line);
    void OnFrame(const SimFrame& frame);
    void OnBlock(const SimFrame& frame);
    int CountBlock(std::uint8_t kind);  // the block's number
    bool RefuseOnPurpose();
    void TakeChecksum(const std::vector<std::uint8_t>& payload, unsigned offset, int number);
    void TakeBlock(BlockTake take, const std::vector<std::uint8_t>& payload);
    void AnswerVersion();
    void AnswerIdentification();
    void SendAck(bool positive, int number);
    void Complete(bool good);
    void Restart();
    void SetListenBaud(int baud);
    void StartLoader();
    void HangUp();
    void WriteRecords();
    void Send(const std::vector<std::uint8_t>& bytes);
    void SendNow(const std::vector<std::uint8_t>& bytes);
    void Flush();
    void At(Clock::time_point when, std::function<void()> what);
    void Error(std::string what);
    void Changed();  // call with m_mutex held after changing m_stats

    const SimOptions m_options;
    bool m_updated = false;  // an update completed: the firmware reports the versions after
    SimOptions RecordOptions() const;
    SimPty m_pty;
    int m_fd = -1;          // the end served: the pty's master or the stream
    bool m_stream = false;  // m_fd is a stream socket
    std::function<void(SimEvent)> m_observer;
    int m_stopFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};

    mutable std::mutex m_mutex;  // guards m_stats and m_images
    mutable std::condition_variable m_changed;
    SimStats m_stats;
    std::vector<std::vector<std::uint8_t>> m_images;

    // Serving-thread state, touched by that thread only.
    std::unique_ptr<FrameReader> m_reader;
    std::string m_line;
    std::vector<std::uint8_t> m_out;  // waiting for the master to take it
    std::multimap<Clock::time_point, std::function<void()>> m_timers;
    SimMode m_mode = SimMode::NotStarted;
    int m_listenBaud = 115200;
    bool m_silent = false;
    int m_seenBaud = 0;
    SimTransfer m_transfer;
    int m_newBlocks = 0;
    bool m_nakPending = false;
    int m_vxLeft = 0;
    Clock::time_point m_wireFree{};
};

}  // namespace qsim
