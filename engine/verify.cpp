// The check after a confirmed update: the receiver restarts into its new
// firmware; it is asked for its version record until it answers or the time
// runs out, and what it reports is held against what the package brings.
#include "trace.h"
#include "updateengine.h"

namespace {

// The receiver takes a few seconds to start its firmware; asking more often
// only fills its input.
constexpr int kAskEveryMs = 1000;

constexpr char kInterfaceCommand[] = "interfacemode quorvex quorvex on\r\nunlogall\r\n";
constexpr char kLogVersion[] = "log version\r\n";

const std::uint8_t* Bytes(const char* text) {
    return reinterpret_cast<const std::uint8_t*>(text);
}

}  // namespace

void UpdateEngine::SetVerify(bool verify, int timeoutMs) {
    m_bVerify = verify;
    m_nVerifyMs = timeoutMs;
}

std::optional<FirmwareVersions> UpdateEngine::ReceiverVersions() const {
    if (!m_bRecordThisConnect) return std::nullopt;
    return FirmwareVersions{m_strCpuVersion, m_strFpgaVersion, m_strBootVersion};
}

std::optional<FirmwareVersions> UpdateEngine::PackageVersions() const {
    return m_pConfig->CommonVersions();
}

bool UpdateEngine::IsReceiverUpToDate() const {
    const auto receiver = ReceiverVersions();
    const auto package = PackageVersions();
    return receiver && package && IsUpToDate(*receiver, *package);
}

QString UpdateEngine::VersionStep() const {
    const auto receiver = ReceiverVersions();
    const auto package = PackageVersions();
    return receiver && package ? VersionStepText(*receiver, *package) : QString();
}

void UpdateEngine::BeginVerification() {
    m_bVerifying = true;
    m_nVerifyStartMs = m_pClock->NowMs();
    m_arrVersionText.clear();
    // The firmware speaks at 115200, whatever its loader listened at.
    if (IsSerial()) SetSpeed(115200);
    m_timerVerify.start(kAskEveryMs);
}

void UpdateEngine::AskVersionAgain() {
    // Each start of the firmware needs the text interface switched on again.
    WriteRaw(Bytes(kInterfaceCommand), sizeof kInterfaceCommand);
    WriteRaw(Bytes(kLogVersion), sizeof kLogVersion);
}

void UpdateEngine::EndVerification(bool recordCame) {
    m_timerVerify.stop();
    m_bVerifying = false;
    m_arrVersionText.clear();
    using Result = ev::Verified::Result;
    ev::Verified verified{
        Result::NoAnswer, {}, m_sentVersions, m_pClock->NowMs() - m_nVerifyStartMs};
    if (recordCame) {
        verified.reported = {m_strCpuVersion, m_strFpgaVersion, m_strBootVersion};
        verified.result =
            IsUpToDate(verified.reported, m_sentVersions) ? Result::Matches : Result::Differs;
    }
    qCDebug(lcTrace, "verified: %d", static_cast<int>(verified.result));
    emit happened(verified);
    emit stateChanged();
}
