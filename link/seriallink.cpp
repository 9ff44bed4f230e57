#include "seriallink.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "serialport.h"

namespace {

// Receive-character and CTS-change events, as the window has always asked.
constexpr std::uint32_t kEventMask = EV_RXCHAR | EV_CTS;
constexpr unsigned kSendBufferSize = 512;

}  // namespace

CSerialLink::CSerialLink(SerialLinkSettings settings, std::string consoleList)
    : m_settings(std::move(settings)), m_consoleList(std::move(consoleList)) {}

CSerialLink::~CSerialLink() {
    Close();
}

bool CSerialLink::Open(ILinkListener* listener) {
    if (m_pPort) return true;
    m_pListener = listener;
    m_refusal = LinkRefusal::None;
    m_notice.Reset();
    // Checked before anything opens the device: even an open and close can
    // disturb a console.
    if (!m_settings.deviceNamed && IsConsoleTty(m_settings.device, m_consoleList)) {
        m_refusal = LinkRefusal::Console;
        return false;
    }
    auto port = std::make_unique<CSerialPort>();
    RingInit(&port->m_rxRing, sizeof port->m_rxStore, port->m_rxStore);
    if (!port->OpenPort(this, m_settings.comPort, m_settings.device, 115200, 'N', 8, 1, kEventMask,
                        kSendBufferSize)) {
        m_refusal =
            port->OpenErrno() == EACCES ? LinkRefusal::PermissionDenied : LinkRefusal::Other;
        return false;
    }
    if (!port->StartMonitor()) {
        m_refusal = LinkRefusal::Other;
        return false;
    }
    m_pPort = std::move(port);
    return true;
}

void CSerialLink::Write(const std::uint8_t* bytes, std::size_t length) {
    if (!m_pPort) return;
    // A longer write than the port takes is refused whole by the port.
    const std::size_t limit = std::numeric_limits<std::int32_t>::max();
    m_pPort->WritePort(bytes, static_cast<std::int32_t>(std::min(length, limit)));
}

void CSerialLink::SetSpeed(std::uint32_t baud) {
    if (m_pPort) m_pPort->SetBaudRate(baud);
}

void CSerialLink::Close() {
    m_pPort.reset();  // joins the monitor
    m_notice.Reset();
}

std::size_t CSerialLink::Read(std::uint8_t* buffer, std::size_t size) {
    if (!m_pPort) return 0;
    m_notice.Clear();
    const std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    return RingGet(&m_pPort->m_rxRing, buffer, static_cast<std::uint32_t>(std::min(size, limit)));
}

void CSerialLink::PostLinkMessage(unsigned message, std::uintptr_t, std::intptr_t) {
    // The other notices (CTS, break, ...) mean nothing to the update.
    if (message != WM_LINK_DATA || !m_pListener) return;
    if (m_notice.Raise()) m_pListener->OnLinkDataReady();
}

void CSerialLink::ReportLinkError(const std::string& text) {
    if (m_pListener) m_pListener->OnLinkError(text, false);
}

void CSerialLink::ReportLinkLost(const std::string& text) {
    if (m_pListener) m_pListener->OnLinkError(text, true);
}
