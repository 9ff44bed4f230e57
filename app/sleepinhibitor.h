#pragma once

#include <QObject>

class QDBusPendingCallWatcher;
class UpdateEngine;

// Keeps the machine awake while an engine updates a receiver: a logind
// inhibitor lock ("sleep:idle", mode "block") from the restart into the
// loader until the outcome, a Disconnect or the engine going away. logind
// holds the lock while the file descriptor it returns stays open, so a
// program that dies releases it too.
//
// The request goes out asynchronously with a short time-out: a system bus
// that does not answer never holds up the event loop. Without a system bus
// or logind the update goes on as before; one trace line says so.
class CSleepInhibitor : public QObject {
    Q_OBJECT

public:
    explicit CSleepInhibitor(UpdateEngine& engine, QObject* parent = nullptr);
    ~CSleepInhibitor() override;

    // logind granted the lock and it is not released yet.
    bool IsHeld() const { return m_fd >= 0; }

private:
    void Acquire();
    void Release();
    void OnStateChanged();
    void OnReply(QDBusPendingCallWatcher* watcher);

    UpdateEngine* m_pEngine;  // null once the engine is gone
    QDBusPendingCallWatcher* m_pPending = nullptr;
    int m_fd = -1;
    bool m_bWanted = false;  // a late grant is kept only while this holds
    bool m_bWasSending = false;
};
