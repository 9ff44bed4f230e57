#include "sleepinhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include "trace.h"
#include "updateengine.h"

namespace {

// logind answers at once; anything slower is a bus in trouble.
constexpr int kReplyTimeoutMs = 3000;

}  // namespace

CSleepInhibitor::CSleepInhibitor(UpdateEngine& engine, QObject* parent)
    : QObject(parent), m_pEngine(&engine) {
    OnEvent<ev::Restarting>(engine, this, [this](const auto&) { Acquire(); });
    connect(&engine, &UpdateEngine::stateChanged, this, &CSleepInhibitor::OnStateChanged);
    OnEvent<ev::Finished>(engine, this, [this](const auto&) { Release(); });
    connect(&engine, &QObject::destroyed, this, [this] {
        m_pEngine = nullptr;
        Release();
    });
}

CSleepInhibitor::~CSleepInhibitor() {
    Release();
}

void CSleepInhibitor::OnStateChanged() {
    if (!m_pEngine->IsConnected()) {
        m_bWasSending = false;
        Release();
        return;
    }
    // After a boot update the receiver starts the CPU firmware's transfer by
    // itself, with no restart before it. A run that asked already (and was
    // perhaps refused) does not ask again.
    const bool sending = m_pEngine->IsSending();
    if (sending && !m_bWasSending && !m_bWanted) Acquire();
    m_bWasSending = sending;
}

void CSleepInhibitor::Acquire() {
    m_bWanted = true;
    if (m_fd >= 0 || m_pPending) return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qCDebug(lcTrace,
                "No sleep inhibitor, no system bus (%s): the machine may sleep during "
                "the update.",
                qPrintable(bus.lastError().message()));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("QuorvexUpdate")
         << QStringLiteral("Updating receiver firmware") << QStringLiteral("block");
    m_pPending = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(m_pPending, &QDBusPendingCallWatcher::finished, this, &CSleepInhibitor::OnReply);
}

void CSleepInhibitor::OnReply(QDBusPendingCallWatcher* watcher) {
    m_pPending = nullptr;
    // The reply holds its own copy of the descriptor until the watcher goes.
    watcher->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
    if (reply.isError()) {
        qCDebug(lcTrace,
                "No sleep inhibitor from logind (%s): the machine may sleep during the "
                "update.",
                qPrintable(reply.error().message()));
        return;
    }
    if (!m_bWanted) return;  // the update ended before logind answered
    const QDBusUnixFileDescriptor lock = reply.value();
    if (lock.isValid()) m_fd = ::fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void CSleepInhibitor::Release() {
    m_bWanted = false;
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
}
