#pragma once

#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "blocksource.h"

class CMainFrame;
class QListWidget;
class QProgressBar;

// The form with the message list and the progress bar, and the home of the
// transfer engine: restart into the loader, blocks, checksum block, end.
class CUpdateView : public QWidget, public CTransferState {
    Q_OBJECT

public:
    explicit CUpdateView(CMainFrame* frame);

    // Message list: lines are only appended; the address line is replaced.
    void AddLine(const QString& line);
    void ReplaceLastLine(const QString& line);
    void ClearList();
    QStringList Lines() const;
    QListWidget* List() const { return m_list; }
    QProgressBar* Progress() const { return m_progress; }

    // Commands
    void OnFirmwareUpdate();
    void OnReceiverInfo();

    // Transfer engine
    void RestartReceiverSerial();
    void RestartReceiverUsb();
    void ResetReceiver();
    void StartCpuUpdate(std::uint16_t cpuId, std::uint16_t fpgaId);
    void StartBootUpdate(std::uint16_t bootId);
    void SendNextBlock();
    void ResendLastBlock();
    void OnUpdateCompleted();
    std::uint32_t GetNextBlock(CMainFrame* frame, std::uint8_t* buffer);
    // Blocks are going out and the next acknowledgement is awaited.
    bool IsSending() const { return m_bSending; }

    std::string m_strPartNumber;
    std::string m_strSerial;
    std::string m_strPnTail;
    bool m_bBootUpdate = false;
    std::string m_strLastCommand;

signals:
    void lineAdded(const QString& line);
    void lastLineReplaced(const QString& line);
    void progressChanged(int position, int maximum);
    void updateCompleted();
    void allBlocksSent();
    void restartRequested();  // an Update command or a "VX" reset
    void firmwareMissing(const QString& message);

private:
    void SetProgress(std::uint32_t position);
    void SendFirstBlock();
    void SetLoaderBaudRate();
    void WriteResetText();

    QProgressBar* m_progress = nullptr;
    QListWidget* m_list = nullptr;
    CMainFrame* m_pFrame = nullptr;
    std::vector<std::uint8_t> m_bootImage;  // the patched copy of a boot image
    bool m_bSending = false;
};
