// The engine's sense of time: a receiver that falls silent while it must
// answer, and the flash write after the last block, which only the receiver
// can end. Both are timed by the engine's clock, one wake-up at a time.
#include "link.h"
#include "trace.h"
#include "updateengine.h"

namespace {

constexpr std::int64_t kWriteTickMs = 1000;

}  // namespace

void UpdateEngine::SetTimeouts(int stallMs, int completionMs) {
    m_nStallMs = stallMs;
    m_nCompletionMs = completionMs;
    ArmWatch();
}

void UpdateEngine::SetClock(std::unique_ptr<EngineClock> clock) {
    if (m_pClock) m_pClock->Cancel();
    m_pClock = std::move(clock);
    MarkActivity();
}

EnginePhase UpdateEngine::Phase() const {
    if (!m_bConnected) return EnginePhase::Disconnected;
    if (m_bVerifying) return EnginePhase::Verifying;
    if (m_bAwaitCompletion) return EnginePhase::FlashWrite;
    if (m_bSending) return EnginePhase::Sending;
    if (m_bAwaitingAt) return EnginePhase::AwaitingStart;
    if (m_timerSs.isActive() || m_bRestarting) return EnginePhase::Polling;
    if (m_bIdentifying) return EnginePhase::Identifying;
    return EnginePhase::Idle;
}

bool UpdateEngine::IsRunUnderWay() const {
    switch (Phase()) {
        case EnginePhase::Polling:
        case EnginePhase::AwaitingStart:
        case EnginePhase::Sending:
        case EnginePhase::FlashWrite:
            return true;
        default:
            return false;
    }
}

std::int64_t UpdateEngine::RunElapsedMs() const {
    return m_nRunStartMs < 0 ? 0 : m_pClock->NowMs() - m_nRunStartMs;
}

QString UpdateEngine::PortText() const {
    return m_choice.m_bUsb ? QStringLiteral("USB")
                           : QStringLiteral("COM%1").arg(m_choice.m_nComPort);
}

// A byte came, or a step began that the receiver must answer: its silence
// counts from now. Called for every block, so it only notes the time; the
// wake-up finds out whether the silence really lasted.
void UpdateEngine::MarkActivity() {
    m_nActivityMs = m_pClock->NowMs();
    m_bStallSaid = false;
}

void UpdateEngine::ArmWatch() {
    switch (Phase()) {
        case EnginePhase::Verifying:
            m_pClock->WakeAt(m_nVerifyStartMs + m_nVerifyMs, [this] { OnWatch(); });
            return;
        case EnginePhase::FlashWrite: {
            const std::int64_t waited = m_pClock->NowMs() - m_nFlashWriteMs;
            const std::int64_t next = (waited / kWriteTickMs + 1) * kWriteTickMs;
            m_pClock->WakeAt(m_nFlashWriteMs + std::min<std::int64_t>(next, m_nCompletionMs),
                             [this] { OnWatch(); });
            return;
        }
        case EnginePhase::Identifying:
        case EnginePhase::Polling:
        case EnginePhase::AwaitingStart:
        case EnginePhase::Sending:
            break;
        case EnginePhase::Idle:
            // A line on which nothing at all came since Connect is worth a
            // word too: the cable or the port may be wrong.
            if (!m_bHeardSinceConnect) break;
            [[fallthrough]];
        default:
            m_pClock->Cancel();
            return;
    }
    if (m_bStallSaid) {
        m_pClock->Cancel();
        return;
    }
    m_pClock->WakeAt(m_nActivityMs + m_nStallMs, [this] { OnWatch(); });
}

void UpdateEngine::OnWatch() {
    const std::int64_t now = m_pClock->NowMs();
    const EnginePhase phase = Phase();
    if (phase == EnginePhase::Verifying) {
        if (now - m_nVerifyStartMs >= m_nVerifyMs) EndVerification(false);
        return;
    }
    if (phase == EnginePhase::FlashWrite) {
        const std::int64_t waited = now - m_nFlashWriteMs;
        if (waited < m_nCompletionMs) {
            emit happened(ev::FlashWriteWaited{waited});
            ArmWatch();
            return;
        }
        m_bAwaitCompletion = false;
        const QString message =
            tr("The receiver on %1 has not reported the end of its flash write after %2. It "
               "may still be writing: do not power it off or unplug it, and check it once it "
               "has restarted.")
                .arg(PortText(), DurationText(m_nCompletionMs));
        emit happened(ev::Finished{UpdateOutcome::Unconfirmed, message});
        emit stateChanged();
        return;
    }
    const std::int64_t silent = now - m_nActivityMs;
    if (silent < m_nStallMs) {
        ArmWatch();  // bytes came meanwhile
        return;
    }
    m_bStallSaid = true;
    qCDebug(lcTrace, "silent for %lld ms", static_cast<long long>(silent));
    emit happened(ev::Stalled{phase, silent});
}

void UpdateEngine::BeginFlashWrite() {
    m_bAwaitCompletion = true;
    m_nFlashWriteMs = m_pClock->NowMs();
    emit happened(ev::FlashWriteWaited{0});
}
