#include "linksetupdlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "linkfactory.h"

CLinkSetupDlg::CLinkSetupDlg(QWidget* parent)
    : QDialog(parent),
      m_cbPort(new QComboBox(this)),
      m_chkBaudrate115200(new QCheckBox(tr("Change Baudrate to 115200 "), this)),
      m_chkManualUpdate(new QCheckBox(tr("Manual Update (Default Baudrate 9600)"), this)),
      m_btnOk(new QPushButton(tr("&OK"), this)),
      m_btnCancel(new QPushButton(tr("&Cancel"), this)) {
    setWindowTitle(tr("Link Setup"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_cbPort->setEditable(false);
    m_cbPort->setMaxVisibleItems(10);
    m_btnOk->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Serial Port"), this), 0, 0);
    grid->addWidget(m_cbPort, 0, 1);
    grid->addWidget(m_chkManualUpdate, 1, 0, 1, 3);
    grid->addWidget(m_chkBaudrate115200, 2, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnOk);
    buttons->addWidget(m_btnCancel);
    grid->addLayout(buttons, 3, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    // Top to bottom, as the operator reads it.
    setTabOrder(m_cbPort, m_chkManualUpdate);
    setTabOrder(m_chkManualUpdate, m_chkBaudrate115200);
    setTabOrder(m_chkBaudrate115200, m_btnOk);
    setTabOrder(m_btnOk, m_btnCancel);

    connect(m_btnOk, &QPushButton::clicked, this, &CLinkSetupDlg::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CLinkSetupDlg::reject);
    connect(m_chkManualUpdate, &QCheckBox::clicked, this, &CLinkSetupDlg::OnManualUpdateClicked);
}

void CLinkSetupDlg::Attach(CLinkChoice* frame, std::vector<ComPort> ports) {
    m_pMainFrame = frame;
    m_arrPorts = std::move(ports);
    m_nPortIndex = frame ? frame->m_nComPort : 0;
    m_bManualUpdate = frame && frame->m_bManualUpdate;
    m_bBaudrate115200 = frame && frame->m_bBaudrate115200;
}

void CLinkSetupDlg::showEvent(QShowEvent* event) {
    if (!m_bInitialised && !event->spontaneous()) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CLinkSetupDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_nPortIndex = m_cbPort->currentIndex();
        m_bBaudrate115200 = m_chkBaudrate115200->isChecked();
        m_bManualUpdate = m_chkManualUpdate->isChecked();
    } else {
        m_cbPort->setCurrentIndex(
            m_nPortIndex >= 0 && m_nPortIndex < m_cbPort->count() ? m_nPortIndex : -1);
        m_chkBaudrate115200->setChecked(m_bBaudrate115200);
        m_chkManualUpdate->setChecked(m_bManualUpdate);
    }
}

void CLinkSetupDlg::OnInitDialog() {
    UpdateData(false);
    InitPortList();
    UpdateData(false);
    m_chkBaudrate115200->setEnabled(m_bManualUpdate);
}

void CLinkSetupDlg::InitPortList() {
    m_cbPort->clear();
    const int current = m_pMainFrame ? m_pMainFrame->m_nComPort : 0;

    // A current port that is not listed selects nothing, rather than whatever
    // entry happens to sit at the index of its number: the operator sees an
    // empty choice instead of a port, or USB, that was never in use.
    m_nPortIndex = -1;
    for (const ComPort& port : m_arrPorts) {
        if (current != 0 && port.number == static_cast<unsigned>(current))
            m_nPortIndex = m_cbPort->count();
        m_cbPort->addItem(QString::fromStdString(ComPortLabel(port)), QVariant::fromValue(port));
    }
    m_cbPort->addItem(QStringLiteral("USB"));  // the one entry without a port
    if (m_pMainFrame && m_pMainFrame->m_bUsb) m_nPortIndex = m_cbPort->count() - 1;
}

void CLinkSetupDlg::SetPorts(const std::vector<ComPort>& ports) {
    if (!m_bInitialised) {
        m_arrPorts = ports;
        return;
    }
    const QVariant selected = m_cbPort->currentData();
    const bool usb = m_cbPort->currentIndex() >= 0 && !selected.isValid();
    m_arrPorts = ports;
    m_cbPort->clear();
    for (const ComPort& port : m_arrPorts)
        m_cbPort->addItem(QString::fromStdString(ComPortLabel(port)), QVariant::fromValue(port));
    m_cbPort->addItem(QStringLiteral("USB"));
    m_cbPort->setCurrentIndex(usb ? m_cbPort->count() - 1
                                  : (selected.isValid() ? m_cbPort->findData(selected) : -1));
}

void CLinkSetupDlg::OnManualUpdateClicked() {
    UpdateData(true);
    m_chkBaudrate115200->setEnabled(m_bManualUpdate);
}

void CLinkSetupDlg::accept() {
    UpdateData(true);
    // Every entry but USB carries its port. With none selected (the current
    // port is not listed) the port and the link kind stay.
    const QVariant port = m_cbPort->itemData(m_nPortIndex);
    if (m_pMainFrame && m_nPortIndex >= 0 && !port.isValid()) {
        m_pMainFrame->m_bUsb = true;  // port and options stay as they were
    } else if (m_pMainFrame) {
        if (port.isValid()) {
            ChoosePort(*m_pMainFrame, port.value<ComPort>());
            m_pMainFrame->m_bUsb = false;
        }
        m_pMainFrame->m_bManualUpdate = m_bManualUpdate;
        m_pMainFrame->m_bBaudrate115200 = m_bBaudrate115200;
    }
    QDialog::accept();
}
