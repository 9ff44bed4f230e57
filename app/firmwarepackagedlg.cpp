#include "firmwarepackagedlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Item data of the built-in entry; a folder's entry holds its path.
const QString kBuiltin = QStringLiteral(":builtin");
}  // namespace

CFirmwarePackageDlg::CFirmwarePackageDlg(const std::vector<PackageEntry>& installed,
                                         const QString& current, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Firmware Package"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Send the images of:"), this));
    m_list = new QListWidget(this);
    for (const PackageEntry& p : installed) {
        const QString folder = QString::fromStdString(p.folder);
        auto* item = new QListWidgetItem(
            QStringLiteral("%1  (%2)").arg(QString::fromStdString(p.name), folder));
        item->setData(Qt::UserRole, folder);
        m_list->addItem(item);
    }
    // A folder chosen earlier that is not among the installed ones.
    if (!current.isEmpty() && m_list->findItems(current, Qt::MatchContains).isEmpty()) {
        auto* item = new QListWidgetItem(current);
        item->setData(Qt::UserRole, current);
        m_list->addItem(item);
    }
    // Last, and never preselected: Enter must not pick the image that no
    // real receiver may get.
    auto* builtin = new QListWidgetItem(
        tr("Built-in test image: for the simulated receiver only, never a real one"));
    builtin->setData(Qt::UserRole, kBuiltin);
    builtin->setForeground(Qt::darkGray);
    m_list->addItem(builtin);
    m_list->setCurrentRow(-1);
    if (!current.isEmpty())
        for (int i = 0; i < m_list->count(); ++i)
            if (m_list->item(i)->data(Qt::UserRole).toString() == current) m_list->setCurrentRow(i);
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_btnBrowse = buttons->addButton(tr("&Folder..."), QDialogButtonBox::ActionRole);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CFirmwarePackageDlg::OnBrowse);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFirmwarePackageDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CFirmwarePackageDlg::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &CFirmwarePackageDlg::accept);
    // Focus alone makes an item current; only a selected one is a choice.
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(!m_list->selectedItems().isEmpty());
    connect(m_list, &QListWidget::itemSelectionChanged, ok,
            [this, ok] { ok->setEnabled(!m_list->selectedItems().isEmpty()); });
    layout->addWidget(buttons);
    resize(520, 300);
}

void CFirmwarePackageDlg::OnBrowse() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Firmware Package"));
    if (folder.isEmpty()) return;
    m_strChosen = folder;
    QDialog::accept();
}

void CFirmwarePackageDlg::accept() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return;
    const QListWidgetItem* item = selected.front();
    const QString data = item->data(Qt::UserRole).toString();
    m_strChosen = data == kBuiltin ? QString() : data;
    QDialog::accept();
}
