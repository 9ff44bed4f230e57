#pragma once

#include <QDialog>
#include <vector>

#include "comports.h"
#include "linkchoice.h"

class QCheckBox;
class QComboBox;
class QPushButton;

// "Link Setup": serial port or USB, and the two options for bringing a
// serially linked receiver into its loader. Run it modally; OK writes the
// choice into m_pMainFrame, Cancel writes nothing; the opener remembers it.
class CLinkSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLinkSetupDlg(QWidget* parent = nullptr);

    // Set by the opener before exec().
    CLinkChoice* m_pMainFrame = nullptr;
    std::vector<ComPort> m_arrPorts;  // the ports present, in order
    int m_nPortIndex = 0;             // selected entry; -1 for none
    bool m_bBaudrate115200 = false;
    bool m_bManualUpdate = false;

    // Takes the frame's current choice and its port list, as the opener must.
    void Attach(CLinkChoice* frame, std::vector<ComPort> ports);
    // The ports present now, while the dialog is open: the entry the operator
    // has selected stays selected while its port is there.
    void SetPorts(const std::vector<ComPort>& ports);

    QComboBox* PortCombo() const { return m_cbPort; }
    QCheckBox* ManualUpdateCheck() const { return m_chkManualUpdate; }
    QCheckBox* Baudrate115200Check() const { return m_chkBaudrate115200; }
    QPushButton* OkButton() const { return m_btnOk; }
    QPushButton* CancelButton() const { return m_btnCancel; }

public slots:
    void accept() override;  // OnOK

private slots:
    void OnManualUpdateClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void InitPortList();
    void UpdateData(bool saveAndValidate);

    QComboBox* m_cbPort;
    QCheckBox* m_chkBaudrate115200;
    QCheckBox* m_chkManualUpdate;
    QPushButton* m_btnOk;
    QPushButton* m_btnCancel;
    bool m_bInitialised = false;
};
