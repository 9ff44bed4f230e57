#include "simcommandline.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qsim {
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
    "  --cpu-version-after V   CPU version reported once an update completed\n"
    "                          (unchanged)\n"
    "  --fpga-version-after V  FPGA version reported once an update completed\n"
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

enum class Arg { None, Text, Escaped, Number };

// One row per option: its name, its argument, and what it sets.
struct OptionRow {
    const char* name;
    Arg arg;
    void (*apply)(SimCommandLine&, const std::string& text, int number);  // null: --help, --version
};

const OptionRow kRows[] = {
    {"link", Arg::Text, [](SimCommandLine& c, const std::string& t, int) { c.sim.linkPath = t; }},
    {"record", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.recordDir = t; }},
    {"exit-after-update", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.exitAfterUpdate = true; }},
    {"quiet", Arg::None, [](SimCommandLine& c, const std::string&, int) { c.quiet = true; }},
    {"help", Arg::None, nullptr},
    {"version", Arg::None, nullptr},
    {"serial", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.serialNumber = t; }},
    {"cpu-version", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.cpuVersion = t; }},
    {"fpga-version", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.fpgaVersion = t; }},
    {"cpu-version-after", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.cpuVersionAfter = t; }},
    {"fpga-version-after", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.fpgaVersionAfter = t; }},
    {"boot-version", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.bootVersion = t; }},
    {"record-text", Arg::Escaped,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.recordText = t; }},
    {"no-version", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.sim.answerVersion = false; }},
    {"noise-before", Arg::Escaped,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.noiseBefore = t; }},
    {"noise-after", Arg::Escaped,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.noiseAfter = t; }},
    {"record-pieces", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.recordPieces = n; }},
    {"record-gap", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.recordPieceGapMs = n; }},
    {"any-speed", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.sim.checkSpeed = false; }},
    {"loader-delay", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.loaderStartDelayMs = n; }},
    {"part-number", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.partNumber = t; }},
    {"loader-serial", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.loaderSerial = t; }},
    {"loader-family", Arg::Text,
     [](SimCommandLine& c, const std::string& t, int) { c.sim.loaderFamily = t; }},
    {"offer-boot", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.sim.offerBootUpdate = true; }},
    {"ss-length", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.ssReplyLength = n; }},
    {"ss-frame", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.ssFramePayload = n; }},
    {"reply-kind", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) {
         c.sim.replyKind = static_cast<std::uint8_t>(n);
     }},
    {"completion-delay", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.completionDelayMs = n; }},
    {"nak-every", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.nakEvery = n; }},
    {"corrupt-ack", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.corruptAckAt = n; }},
    {"drop-ack-byte", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.dropAckByteAt = n; }},
    {"interleave-st", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.sim.interleaveSt = true; }},
    {"interleave-bit3", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.sim.interleaveBit3 = true; }},
    {"interleave-text", Arg::None,
     [](SimCommandLine& c, const std::string&, int) { c.sim.interleaveText = true; }},
    {"silent-after", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.silentAfterBlocks = n; }},
    {"hang-up-after", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.hangUpAfterBlocks = n; }},
    {"force-vx", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.forceVx = n; }},
    {"pace", Arg::None, [](SimCommandLine& c, const std::string&, int) { c.sim.pace = true; }},
    {"reply-delay-ms", Arg::Number,
     [](SimCommandLine& c, const std::string&, int n) { c.sim.replyDelayMs = n; }},
};

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

}  // namespace

int ParseSimCommandLine(int argc, char** argv, SimCommandLine* out) {
    std::vector<option> options;
    for (const OptionRow& row : kRows) {
        options.push_back({row.name, row.arg == Arg::None ? no_argument : required_argument,
                           nullptr, 256 + static_cast<int>(&row - kRows)});
    }
    options.push_back({nullptr, 0, nullptr, 0});
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "", options.data(), nullptr)) != -1) {
        if (opt < 256 || opt >= 256 + static_cast<int>(std::size(kRows))) {
            std::fputs("Try 'receiver-sim --help'.\n", stderr);
            return 2;
        }
        const OptionRow& row = kRows[opt - 256];
        if (!row.apply) {
            if (std::strcmp(row.name, "help") == 0)
                std::fputs(kUsage, stdout);
            else
                std::printf("receiver-sim (QuorvexUpdate) %s\n", QUORVEX_VERSION);
            return 0;
        }
        int n = 0;
        if (row.arg == Arg::Number && !ToInt(optarg, &n)) {
            std::fprintf(stderr, "receiver-sim: not a number: %s\n", optarg);
            return 2;
        }
        row.apply(*out, row.arg == Arg::Escaped ? Unescape(optarg) : optarg ? optarg : "", n);
    }
    if (optind < argc) {
        std::fprintf(stderr, "receiver-sim: unexpected argument %s\n", argv[optind]);
        return 2;
    }
    return -1;
}

}  // namespace qsim
