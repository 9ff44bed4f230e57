#include "prompter.h"

#include <QMessageBox>

bool CMessageBoxPrompter::AskYesNo(const QString& caption, const QString& text) {
    return QMessageBox::question(nullptr, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool CMessageBoxPrompter::AskYesNoDefaultNo(const QString& caption, const QString& text) {
    return QMessageBox::question(nullptr, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void CMessageBoxPrompter::ShowError(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

void CMessageBoxPrompter::ShowInfo(const QString& caption, const QString& text) {
    // Selectable, so a path or a reason can be copied out of it.
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

namespace {
CMessageBoxPrompter g_messageBoxes;
IPrompter* g_prompter = &g_messageBoxes;
}  // namespace

IPrompter& Prompter() {
    return *g_prompter;
}

void SetPrompter(IPrompter* prompter) {
    g_prompter = prompter ? prompter : &g_messageBoxes;
}
