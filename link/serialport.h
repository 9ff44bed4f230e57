#pragma once

#include <linux/serial.h>
#include <poll.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "comports.h"
#include "myport.h"
#include "ringbuffer.h"

// Comm event classes of an event mask (the values receiver tools use).
constexpr std::uint32_t EV_RXCHAR = 0x0001;
constexpr std::uint32_t EV_RXFLAG = 0x0002;
constexpr std::uint32_t EV_CTS = 0x0008;
constexpr std::uint32_t EV_BREAK = 0x0040;
constexpr std::uint32_t EV_ERR = 0x0080;
constexpr std::uint32_t EV_RING = 0x0100;

// Read and write time-outs of the port, in milliseconds. Reads are only made
// when poll() says a byte is there, so only the write time-outs act here.
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};

// Applies a definition text "baud=%d parity=%c data=%d stop=%d" to a raw
// line state (parity N, E, O, M or S; 5 to 8 data bits; 1 or 2 stop bits;
// no flow control; modem status lines ignored). On a text it cannot apply it
// sets errno to EINVAL and leaves the state unchanged.
bool BuildCommDCB(const char* szDef, termios* pState);

// One serial port of the receiver link. A monitor thread moves received
// bytes into m_rxRing, posting one WM_LINK_DATA for all it read at a wake-up,
// and writes what WritePort hands over. Owner's thread: everything public.
// Monitor thread: MonitorThread, ReceiveBytes, SendPending and the errors
// they report.
class CSerialPort : public CMyPort {
public:
    CSerialPort();
    ~CSerialPort() override;  // stops and joins the monitor, closes the port

    // Opens device; portnr is the COM number its reports and notices carry.
    // TRUE: the port is open, even if a configuration step failed (that step
    // was reported). FALSE: it did not open; nothing is reported, OpenErrno()
    // tells why (EBUSY: another program holds it; ENODEV: no device given).
    bool OpenPort(ILinkOwner* pPortOwner, unsigned portnr, const std::string& device, unsigned baud,
                  char parity, unsigned databits, unsigned stopbits, std::uint32_t dwCommEvents,
                  unsigned nSendBufferSize);
    bool StartMonitor();
    // Hands the bytes to the monitor thread and returns at once. Each write
    // first discards unread input and unsent output of the port.
    void WritePort(const std::uint8_t* bytes, std::int32_t length);
    // Changes the speed at once, without waiting for output in flight.
    void SetBaudRate(std::uint32_t baud);
    int OpenErrno() const { return m_nOpenErrno; }

    // The owner calls RingInit(&m_rxRing, 8192, m_rxStore) before OpenPort
    // and drains the ring on WM_LINK_DATA; the monitor thread fills it. While
    // the ring is full, input stays in the tty until the owner has drained.
    RingBuffer m_rxRing;
    std::uint8_t m_rxStore[8192];

protected:
    enum class WriteOutcome { Done, Failed, Incomplete, Stopped };
    enum class WaitResult { Ready, Stopped, TimedOut };

    static unsigned MonitorThread(CSerialPort* pPort);
    void OnCommEvent(short revents);
    void ReceiveBytes();
    void SendPending();
    WriteOutcome WriteAttempt(int* pError);
    WaitResult WaitForPort(short events, std::chrono::steady_clock::time_point deadline,
                           int maxWaitMs);
    std::string ErrorReport(const char* szStep, int nError) const;
    void ReportError(const char* szStep, int nError);
    void LinkLost(const char* szStep, int nError);
    void Post(unsigned message, std::uintptr_t wParam);
    void StopMonitor();
    void SetLowLatency();
    void ClosePort();

    // TIOCGSERIAL and TIOCSSERIAL go through this, and nothing else does, so
    // a test can play a serial driver on a pseudo-terminal. ::ioctl by default.
    std::function<int(int fd, unsigned long request, serial_struct* info)> m_serialIoctl;

    std::unique_ptr<std::thread> m_pMonitorThread;
    // Serialises port I/O between the owner's thread (reopen) and the
    // monitor thread (each read, each write attempt with its completion).
    std::mutex m_lock;
    int m_hStopEvent = -1;  // eventfd; stays readable once signalled
    int m_hComm = -1;       // the tty, -1 when closed
    int m_hSendEvent = -1;  // eventfd; readable while bytes wait in m_txRing
    // Polled by the monitor in this order; the lowest ready index wins.
    pollfd m_waitHandles[3] = {};
    CommTimeouts m_commTimeouts = {};
    termios m_commState = {};
    std::uint32_t m_nPort = 0;
    std::unique_ptr<std::uint8_t[]> m_pSendBuffer;  // bytes of the write in progress
    std::int32_t m_nSendLength = 0;
    std::uint32_t m_dwEventMask = 0;
    std::uint32_t m_nSendBufferSize = 0;

    // WritePort hands bytes over through this ring (owner's thread produces,
    // the monitor consumes), so neither side waits for the other.
    RingBuffer m_txRing;
    std::unique_ptr<std::uint8_t[]> m_pTxStore;
    std::uint32_t m_dwCommMask = 0;  // the mask the port accepted; 0 until then
    bool m_bLinkLost = false;        // monitor only: hang-up or read failure seen
    bool m_bRxWaitsForRoom = false;  // monitor only: input left in the tty, ring full
    // Monitor only: what one wake-up reads, before it goes into m_rxRing whole.
    std::uint8_t m_rxScratch[sizeof m_rxStore];
    int m_nOpenErrno = 0;
    // What TIOCGSERIAL gave when this program set ASYNC_LOW_LATENCY; put
    // back before the tty is closed.
    serial_struct m_savedSerial = {};
    bool m_bRestoreSerial = false;
};
