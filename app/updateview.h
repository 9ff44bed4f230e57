#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "engineevent.h"
#include "progressfigures.h"

class UpdateEngine;
class QLabel;
class QListWidget;
class QProgressBar;

// The form with the message list and the progress bar: it shows what the
// engine reports. The address line and the bar change with every block;
// they are repainted at most at display rate, and always before the next
// line is added, so the list reads in the order the engine wrote it.
class CUpdateView : public QWidget {
    Q_OBJECT

public:
    CUpdateView(UpdateEngine& engine, QWidget* parent = nullptr);

    // Message list: lines are only appended; the address line is replaced.
    void AddLine(const QString& line);
    void ReplaceLastLine(const QString& line);
    void ClearList();
    // What the list shows, pending repaints included.
    QStringList Lines();
    int ProgressValue();
    int ProgressMaximum();
    QListWidget* List() const { return m_list; }
    QProgressBar* Progress() const { return m_progress; }
    // Percent, bytes, rate and time left beside the bar.
    QString Figures();
    int Percent() const { return m_clock.Percent(); }
    // Beside the bar while a run is under way: do not unplug.
    QString GuardText() const;
    // How the last run ended, in words, once it has; empty while none has.
    QString OutcomeText() const;

    // What an Update would change on the receiver; again when the package changes.
    void ShowVersionStep();
    QString VersionStepText() const;

    // Applies what waits for the next repaint.
    void Flush();

signals:
    // The whole percent the bar shows changed.
    void percentChanged(int percent);

private:
    void SetProgress(int position, int maximum);
    void Schedule();
    void OnEvent(const EngineEvent& event);
    void OnStateChanged();
    void OnFlashWrite(qint64 waitedMs);
    void OnStalled(EnginePhase phase, qint64 silentMs);
    void OnFinished(UpdateOutcome outcome, const QString& message);
    void ShowOutcome(const QString& text, bool good);
    void ResetProgress();

    UpdateEngine& m_engine;

    QProgressBar* m_progress = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_figures = nullptr;
    QLabel* m_guard = nullptr;
    QLabel* m_versions = nullptr;
    QLabel* m_outcome = nullptr;
    CProgressClock m_clock;
    std::optional<QString> m_pendingLastLine;
    std::optional<std::pair<int, int>> m_pendingProgress;
    QTimer m_repaint;
};
