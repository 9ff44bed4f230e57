#pragma once

#include <QString>

#include "iprompter.h"

class QWidget;

// Message boxes on the UI thread.
class CMessageBoxPrompter : public IPrompter {
public:
    bool AskYesNo(const QString& caption, const QString& text) override;
    bool AskYesNoDefaultNo(const QString& caption, const QString& text) override;
    void ShowError(const QString& caption, const QString& text) override;
    void ShowInfo(const QString& caption, const QString& text) override;
};

// The prompter in use; never null. Setting nullptr restores message boxes.
IPrompter& Prompter();
void SetPrompter(IPrompter* prompter);
