#pragma once

#include <QString>

// The one place the program asks the operator something or shows a modal
// box. The window uses message boxes; headless runs and tests install their
// own so that nothing ever waits for a click nobody can make.
class IPrompter {
public:
    virtual ~IPrompter() = default;
    // Yes/No question with the question icon.
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
    // The same with No as the default button, for questions where a hasty
    // Enter must not say yes.
    virtual bool AskYesNoDefaultNo(const QString& caption, const QString& text) {
        return AskYesNo(caption, text);
    }
    // Error box (error icon, OK).
    virtual void ShowError(const QString& caption, const QString& text) = 0;
    // Information box (information icon, OK).
    virtual void ShowInfo(const QString& caption, const QString& text) = 0;
};
