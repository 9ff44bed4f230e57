#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal pair for tests: the code under test opens SlavePath(),
// the test plays the far end on Master(). Both ends start raw (no echo, no
// line editing), so bytes pass unchanged either way.
class PtyPair {
public:
    PtyPair();  // check IsOpen()
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    int Master() const { return m_master; }
    // The slave fd openpty() returned; kept open so the line never hangs up
    // while the code under test reopens it. -1 after CloseSlave().
    int Slave() const { return m_slave; }
    const std::string& SlavePath() const { return m_slavePath; }

    // Closing the master is a hang-up for every opener of the slave.
    void CloseMaster();
    void CloseSlave();

    // TIOCPKT on the master: each read returns one packet, a flush on the
    // slave shows up as a control byte (TIOCPKT_FLUSHREAD/FLUSHWRITE) and
    // data comes prefixed with TIOCPKT_DATA (0).
    bool SetPacketMode(bool on);
    // The slave's line settings as the far end sees them.
    termios MasterTermios() const;
    speed_t MasterSpeed() const;

    // Writes all bytes to the master, waiting for room; false on time-out or
    // error.
    bool Write(const void* data, std::size_t length,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool Write(const std::vector<std::uint8_t>& bytes,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return Write(bytes.data(), bytes.size(), timeout);
    }
    // Reads from the master until length bytes have come or the time-out
    // passed; returns what came.
    std::vector<std::uint8_t> Read(std::size_t length,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // One read() of whatever is there (one packet in packet mode), waiting up
    // to timeout for it; empty on time-out.
    std::vector<std::uint8_t> ReadSome(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

// Waits until fd is readable (or hung up); false on time-out.
bool WaitReadable(int fd, std::chrono::milliseconds timeout);
