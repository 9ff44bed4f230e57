#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "firmwarepackage.h"

class QListWidget;
class QPushButton;

// "Firmware Package": the built-in test image, the packages installed where
// the program looks for them, or any folder. Run it modally; on OK,
// Chosen() is the folder, or empty for the built-in image. It only chooses:
// the frame validates and reports.
class CFirmwarePackageDlg : public QDialog {
    Q_OBJECT
public:
    CFirmwarePackageDlg(const std::vector<PackageEntry>& installed, const QString& current,
                        QWidget* parent = nullptr);

    QString Chosen() const { return m_strChosen; }
    QListWidget* List() const { return m_list; }
    QPushButton* BrowseButton() const { return m_btnBrowse; }

public slots:
    void accept() override;

private:
    void OnBrowse();

    QListWidget* m_list;
    QPushButton* m_btnBrowse;
    QString m_strChosen;
};
