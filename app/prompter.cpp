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
    QMessageBox::critical(nullptr, caption, text);
}

void CMessageBoxPrompter::ShowInfo(const QString& caption, const QString& text) {
    QMessageBox::information(nullptr, caption, text);
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
