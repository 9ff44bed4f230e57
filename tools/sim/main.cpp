// receiver-sim: a simulated Z4 receiver on a pseudo-terminal.
#include <getopt.h>
#include <signal.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "receiversim.h"

namespace {

const char kUsage[] =
    "Usage: receiver-sim [OPTION]...\n"
    "Serves a simulated Z4 receiver on a pseudo-terminal. The first line on stdout\n"
    "is the path of the device end; open it at 115200 8N1 (the loader may listen at\n"
    "9600, see --boot-version). Runs until SIGINT or SIGTERM.\n"
    "\n"
    "Text dialect: \"interfacemode quorvex quorvex on\", \"unlogall\", \"log version\"\n"
    "(answered with a GPSCAR record), \"reset\" (restart into the loader), each ended\n"
    "by CR or LF. The loader speaks frames: \"$$\", two type letters, kind, length N,\n"
    "N payload bytes, XOR of type..payload, CR, LF. It answers \"SS\" with its\n"
    "identification, \"AT\" with \"AT\", each \"SX\" block with an \"SX\" ack (payload 1\n"
    "or 0), and the checksum block (kind 17) with \"SC\" (checksum right) or \"VX\".\n"
    "\n"
    "General:\n"
    "  --link PATH             also make PATH a symbolic link to the device end\n"
    "  --record DIR            write the images of every finished transfer to\n"
    "                          DIR/image1.bin (kind 21) and DIR/image2.bin (kind 20)\n"
    "  --exit-after-update     exit once an update has been answered with \"SC\"\n"
    "  --quiet                 no event lines on stderr\n"
    "  --help                  this text\n"
    "  --version               print the version\n"
    "\n"
    "Firmware (text dialect):\n"
    "  --serial SN             serial number in the version record (Z4A00417)\n"
    "  --cpu-version V         CPU version (5.100)\n"
    "  --fpga-version V        FPGA version (2.300)\n"
    "  --boot-version V        boot version (3.100); the loader listens at 115200 when\n"
    "                          it lies strictly between 3.000 and 9.999, else at 9600\n"
    "  --record-text TEXT      send TEXT verbatim as the version answer\n"
    "  --no-version            never answer \"log version\"\n"
    "  --noise-before TEXT     text sent before the record\n"
    "  --noise-after TEXT      text sent after the record\n"
    "  --record-pieces N       cut the answer into N writes (1)\n"
    "  --record-gap MS         pause between those writes (5)\n"
    "  --any-speed             take bytes at any line speed (default: bytes sent at\n"
    "                          another speed than the receiver listens at are dropped)\n"
    "  TEXT may hold the escapes \\r \\n \\t \\0 \\\\ and \\xHH.\n"
    "\n"
    "Loader:\n"
    "  --loader-delay MS       reset -> loader running (150); bytes meanwhile are dropped\n"
    "  --part-number PN        part number in the identification (Q4B1C20)\n"
    "  --loader-serial SN      serial in the identification (123456, or 12345678\n"
    "                          outside the loader family)\n"
    "  --loader-family P       loader-family prefix (Q4B1)\n"
    "  --offer-boot            '-' at identification offsets 19 and 22 (boot update)\n"
    "  --ss-length N           identification payload length (32; below 25 = short)\n"
    "  --ss-frame N            frame size for identifications of 55 bytes or more (55)\n"
    "  --reply-kind N          kind byte of the loader's frames (17 = 0x11)\n"
    "  --completion-delay MS   checksum block acked -> \"SC\"/\"VX\" (100)\n"
    "\n"
    "Faults (blocks count every \"SX\" frame received, from 1):\n"
    "  --nak-every N           refuse every Nth new block once (its resend is taken)\n"
    "  --corrupt-ack N         the ack of block N has a wrong checksum\n"
    "  --drop-ack-byte N       the ack of block N lacks its line feed\n"
    "                          (the updater does not retry by itself: it stalls)\n"
    "  --interleave-st         an \"ST\" frame before every ack\n"
    "  --interleave-bit3       a negative \"SX\" with kind bit 3 set before every ack\n"
    "  --interleave-text       a text line before every ack\n"
    "  --silent-after N        answer nothing from block N+1 on, until \"reset\"\n"
    "  --hang-up-after N       close the line when block N+1 arrives, then exit\n"
    "  --force-vx N            answer N good checksums with \"VX\" (0)\n"
    "  --pace                  delay replies by 10 bits per byte of wire time\n"
    "  --reply-delay-ms N      hold every loader reply back N ms more (0), as a\n"
    "                          USB-serial adapter's latency timer does\n";

enum LongOnly {
    kLink = 256,
    kRecordDir,
    kExitAfterUpdate,
    kQuiet,
    kHelp,
    kVersion,
    kSerial,
    kCpu,
    kFpga,
    kBoot,
    kRecordText,
    kNoVersion,
    kNoiseBefore,
    kNoiseAfter,
    kRecordPieces,
    kRecordGap,
    kAnySpeed,
    kLoaderDelay,
    kPartNumber,
    kLoaderSerial,
    kLoaderFamily,
    kOfferBoot,
    kSsLength,
    kSsFrame,
    kReplyKind,
    kCompletionDelay,
    kNakEvery,
    kCorruptAck,
    kDropAckByte,
    kInterleaveSt,
    kInterleaveBit3,
    kInterleaveText,
    kSilentAfter,
    kHangUpAfter,
    kForceVx,
    kPace,
    kReplyDelay
};

const option kOptions[] = {{"link", required_argument, nullptr, kLink},
                           {"record", required_argument, nullptr, kRecordDir},
                           {"exit-after-update", no_argument, nullptr, kExitAfterUpdate},
                           {"quiet", no_argument, nullptr, kQuiet},
                           {"help", no_argument, nullptr, kHelp},
                           {"version", no_argument, nullptr, kVersion},
                           {"serial", required_argument, nullptr, kSerial},
                           {"cpu-version", required_argument, nullptr, kCpu},
                           {"fpga-version", required_argument, nullptr, kFpga},
                           {"boot-version", required_argument, nullptr, kBoot},
                           {"record-text", required_argument, nullptr, kRecordText},
                           {"no-version", no_argument, nullptr, kNoVersion},
                           {"noise-before", required_argument, nullptr, kNoiseBefore},
                           {"noise-after", required_argument, nullptr, kNoiseAfter},
                           {"record-pieces", required_argument, nullptr, kRecordPieces},
                           {"record-gap", required_argument, nullptr, kRecordGap},
                           {"any-speed", no_argument, nullptr, kAnySpeed},
                           {"loader-delay", required_argument, nullptr, kLoaderDelay},
                           {"part-number", required_argument, nullptr, kPartNumber},
                           {"loader-serial", required_argument, nullptr, kLoaderSerial},
                           {"loader-family", required_argument, nullptr, kLoaderFamily},
                           {"offer-boot", no_argument, nullptr, kOfferBoot},
                           {"ss-length", required_argument, nullptr, kSsLength},
                           {"ss-frame", required_argument, nullptr, kSsFrame},
                           {"reply-kind", required_argument, nullptr, kReplyKind},
                           {"completion-delay", required_argument, nullptr, kCompletionDelay},
                           {"nak-every", required_argument, nullptr, kNakEvery},
                           {"corrupt-ack", required_argument, nullptr, kCorruptAck},
                           {"drop-ack-byte", required_argument, nullptr, kDropAckByte},
                           {"interleave-st", no_argument, nullptr, kInterleaveSt},
                           {"interleave-bit3", no_argument, nullptr, kInterleaveBit3},
                           {"interleave-text", no_argument, nullptr, kInterleaveText},
                           {"silent-after", required_argument, nullptr, kSilentAfter},
                           {"hang-up-after", required_argument, nullptr, kHangUpAfter},
                           {"force-vx", required_argument, nullptr, kForceVx},
                           {"pace", no_argument, nullptr, kPace},
                           {"reply-delay-ms", required_argument, nullptr, kReplyDelay},
                           {nullptr, 0, nullptr, 0}};

bool ToInt(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 1000000000L) return false;
    *value = static_cast<int>(v);
    return true;
}

std::string Unescape(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p != '\\' || p[1] == '\0') {
            out.push_back(*p);
            continue;
        }
        ++p;
        switch (*p) {
            case 'r':
                out.push_back('\r');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '0':
                out.push_back('\0');
                break;
            case 'x': {
                int v = 0, digits = 0;
                while (digits < 2 && std::isxdigit(static_cast<unsigned char>(p[1]))) {
                    const char c = *++p;
                    v = v * 16 + (std::isdigit(static_cast<unsigned char>(c))
                                      ? c - '0'
                                      : (c | 0x20) - 'a' + 10);
                    ++digits;
                }
                out.push_back(static_cast<char>(v));
                break;
            }
            default:
                out.push_back(*p);
                break;
        }
    }
    return out;
}

const char* ModeName(qsim::SimMode mode) {
    switch (mode) {
        case qsim::SimMode::NotStarted:
            return "not started";
        case qsim::SimMode::Firmware:
            return "firmware";
        case qsim::SimMode::Restarting:
            return "restarting";
        case qsim::SimMode::Loader:
            return "loader";
        case qsim::SimMode::HungUp:
            return "hung up";
        case qsim::SimMode::Stopped:
            return "stopped";
    }
    return "?";
}

// One line on stderr for each thing a person watching would want to know.
void Report(const qsim::SimStats& now, const qsim::SimStats& before) {
    if (now.mode != before.mode || now.listenBaud != before.listenBaud) {
        std::fprintf(stderr, "receiver-sim: %s, listening at %d baud\n", ModeName(now.mode),
                     now.listenBaud);
    }
    if (now.versionRequests != before.versionRequests) {
        std::fprintf(stderr, "receiver-sim: \"log version\" #%d\n", now.versionRequests);
    }
    if (now.ssPolls != before.ssPolls)
        std::fprintf(stderr, "receiver-sim: \"SS\" #%d\n", now.ssPolls);
    if (now.atFrames != before.atFrames) std::fprintf(stderr, "receiver-sim: \"AT\"\n");
    if (now.transfersStarted != before.transfersStarted) {
        std::fprintf(stderr, "receiver-sim: transfer started\n");
    }
    if (now.sxFrames / 1000 != before.sxFrames / 1000) {
        std::fprintf(stderr, "receiver-sim: %d blocks\n", now.sxFrames);
    }
    for (std::size_t i = before.errors.size(); i < now.errors.size(); ++i) {
        std::fprintf(stderr, "receiver-sim: %s\n", now.errors[i].c_str());
    }
    if (now.scSent != before.scSent) {
        std::fprintf(stderr, "receiver-sim: \"SC\" sent after %d blocks, checksum 0x%08X\n",
                     now.sxFrames, now.lastChecksumComputed);
    }
    if (now.vxSent != before.vxSent) std::fprintf(stderr, "receiver-sim: \"VX\" sent\n");
    for (std::size_t i = before.recordedFiles.size(); i < now.recordedFiles.size(); ++i) {
        std::fprintf(stderr, "receiver-sim: wrote %s\n", now.recordedFiles[i].c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    qsim::SimOptions o;
    bool exitAfterUpdate = false;
    bool quiet = false;
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        int n = 0;
        const bool needsNumber = opt == kRecordPieces || opt == kRecordGap || opt == kLoaderDelay ||
                                 opt == kSsLength || opt == kSsFrame || opt == kReplyKind ||
                                 opt == kCompletionDelay || opt == kNakEvery ||
                                 opt == kCorruptAck || opt == kDropAckByte || opt == kSilentAfter ||
                                 opt == kHangUpAfter || opt == kForceVx || opt == kReplyDelay;
        if (needsNumber && !ToInt(optarg, &n)) {
            std::fprintf(stderr, "receiver-sim: not a number: %s\n", optarg);
            return 2;
        }
        switch (opt) {
            case kLink:
                o.linkPath = optarg;
                break;
            case kRecordDir:
                o.recordDir = optarg;
                break;
            case kExitAfterUpdate:
                exitAfterUpdate = true;
                break;
            case kQuiet:
                quiet = true;
                break;
            case kHelp:
                std::fputs(kUsage, stdout);
                return 0;
            case kVersion:
                std::printf("receiver-sim (QuorvexUpdate) %s\n", QUORVEX_VERSION);
                return 0;
            case kSerial:
                o.serialNumber = optarg;
                break;
            case kCpu:
                o.cpuVersion = optarg;
                break;
            case kFpga:
                o.fpgaVersion = optarg;
                break;
            case kBoot:
                o.bootVersion = optarg;
                break;
            case kRecordText:
                o.recordText = Unescape(optarg);
                break;
            case kNoVersion:
                o.answerVersion = false;
                break;
            case kNoiseBefore:
                o.noiseBefore = Unescape(optarg);
                break;
            case kNoiseAfter:
                o.noiseAfter = Unescape(optarg);
                break;
            case kRecordPieces:
                o.recordPieces = n;
                break;
            case kRecordGap:
                o.recordPieceGapMs = n;
                break;
            case kAnySpeed:
                o.checkSpeed = false;
                break;
            case kLoaderDelay:
                o.loaderStartDelayMs = n;
                break;
            case kPartNumber:
                o.partNumber = optarg;
                break;
            case kLoaderSerial:
                o.loaderSerial = optarg;
                break;
            case kLoaderFamily:
                o.loaderFamily = optarg;
                break;
            case kOfferBoot:
                o.offerBootUpdate = true;
                break;
            case kSsLength:
                o.ssReplyLength = n;
                break;
            case kSsFrame:
                o.ssFramePayload = n;
                break;
            case kReplyKind:
                o.replyKind = static_cast<std::uint8_t>(n);
                break;
            case kCompletionDelay:
                o.completionDelayMs = n;
                break;
            case kNakEvery:
                o.nakEvery = n;
                break;
            case kCorruptAck:
                o.corruptAckAt = n;
                break;
            case kDropAckByte:
                o.dropAckByteAt = n;
                break;
            case kInterleaveSt:
                o.interleaveSt = true;
                break;
            case kInterleaveBit3:
                o.interleaveBit3 = true;
                break;
            case kInterleaveText:
                o.interleaveText = true;
                break;
            case kSilentAfter:
                o.silentAfterBlocks = n;
                break;
            case kHangUpAfter:
                o.hangUpAfterBlocks = n;
                break;
            case kForceVx:
                o.forceVx = n;
                break;
            case kPace:
                o.pace = true;
                break;
            case kReplyDelay:
                o.replyDelayMs = n;
                break;
            default:
                std::fputs("Try 'receiver-sim --help'.\n", stderr);
                return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "receiver-sim: unexpected argument %s\n", argv[optind]);
        return 2;
    }

    // Block the stop signals before the serving thread exists, so that it
    // inherits the mask and only this thread takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    qsim::ReceiverSim sim(o);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "receiver-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.DevicePath().c_str());
    std::fflush(stdout);

    qsim::SimStats before = sim.Stats();
    const timespec tick{0, 100 * 1000 * 1000};
    for (;;) {
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        const qsim::SimStats now = sim.Stats();
        if (!quiet) Report(now, before);
        before = now;
        if (sig == SIGINT || sig == SIGTERM) break;
        if (sim.Finished()) break;
        if (exitAfterUpdate && now.completedUpdates > 0) {
            // Give the updater a moment to read "SC" before the line goes.
            const timespec grace{0, 300 * 1000 * 1000};
            sigtimedwait(&stopSignals, nullptr, &grace);
            break;
        }
    }
    sim.Stop();
    return 0;
}
