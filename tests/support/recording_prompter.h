#pragma once

#include <QString>
#include <QStringList>

#include "iprompter.h"

// Answers questions as told and records every box instead of showing it.
class RecordingPrompter : public IPrompter {
public:
    bool answer = false;
    QStringList questions, errors, infos;

    bool AskYesNo(const QString& caption, const QString& text) override {
        questions << caption + "|" + text;
        return answer;
    }
    void ShowError(const QString& caption, const QString& text) override {
        errors << caption + "|" + text;
    }
    void ShowInfo(const QString& caption, const QString& text) override {
        infos << caption + "|" + text;
    }
};
