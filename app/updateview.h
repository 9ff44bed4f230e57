#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <optional>

class UpdateEngine;
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

    // Applies what waits for the next repaint.
    void Flush();

private:
    void SetProgress(int position, int maximum);
    void Schedule();

    QProgressBar* m_progress = nullptr;
    QListWidget* m_list = nullptr;
    std::optional<QString> m_pendingLastLine;
    std::optional<std::pair<int, int>> m_pendingProgress;
    QTimer m_repaint;
};
