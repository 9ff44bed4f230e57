#pragma once

#include <linux/serial.h>

#include <QLoggingCategory>
#include <cstdint>
#include <functional>
#include <string>

// Developer trace of the serial link; enable with
// QT_LOGGING_RULES="quorvex.trace*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcSerialTrace)

// The steps the serial link takes on its tty, as free functions over a
// descriptor. A step that fails returns its name for the report (the names
// receiver tools have always printed) and leaves errno set.

// Opens the tty non-blocking for this program alone: the flock keeps out
// every other program that asks for it (root included), TIOCEXCL keeps out
// plain opens by unprivileged ones. -1 with *error set when it cannot
// (EBUSY: another program holds it; ENOTTY: not a terminal).
int OpenExclusiveTty(const std::string& path, int* error);

// Raw 8N1 at baud: no flow control, modem status lines ignored, one byte
// completes a read; RTS held on. nullptr, or "GetCommState()" or
// "SetCommState()" for the step that failed; the steps after it are skipped.
const char* ConfigureRawLine(int fd, std::uint32_t baud);

// Changes the line's speed at once, without waiting for output in flight.
// nullptr, or the step that failed; the old speed then stays.
const char* SetLineSpeed(int fd, std::uint32_t baud);

// "WARNING:  <step> Failed with the following error: \n<text>\nPort: <n>\n",
// composed in full however long the system's text.
std::string LinkErrorText(const char* step, int error, unsigned port);

// Lets the tty go: the exclusive flag off (it would outlive this close while
// anyone else has the tty open), then closed, which drops the flock.
void CloseTty(int fd);

// TIOCGSERIAL and TIOCSSERIAL go through this, and nothing else does, so a
// test can play a serial driver on a pseudo-terminal.
using SerialFlagsIoctl = std::function<int(int fd, unsigned long request, serial_struct* info)>;

// A USB-serial adapter holds received bytes for its latency timer (16 ms by
// default) and the update waits for each block's acknowledgement, so the
// timer would roughly double the time per block; low latency cuts it to 1 ms
// on the common drivers. The flag is asked for while the tty is open and the
// former flags put back before it closes.
class CLowLatency {
public:
    explicit CLowLatency(SerialFlagsIoctl ioctl = {});  // empty: ::ioctl

    // A tty without the flag (a pseudo-terminal, a driver that refuses)
    // works as before, only slower: nothing is reported.
    void Set(int fd, unsigned port);
    // Best effort: a hung-up or pulled device cannot take it.
    void Restore(int fd);

private:
    SerialFlagsIoctl m_ioctl;
    serial_struct m_saved = {};  // what TIOCGSERIAL gave when Set changed it
    bool m_bRestore = false;
};
