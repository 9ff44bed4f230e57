#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

#include "historydb.h"

// quorvexupdate-cli history [--serial SN] [--since DATE] [--csv]
// [--history-db URL]: the runs the history holds, oldest first.
struct HistoryCommand {
    HistoryFilter filter;
    bool csv = false;
    QString database;  // --history-db; empty: the settings file's, else the user's file
};

// Whether the command line asks for the history: "history" right after the
// program (or after its --headless).
bool IsHistoryCommand(const QStringList& args);
// False with a one-line reason in *error on a bad command line.
bool ParseHistoryArguments(const QStringList& args, HistoryCommand* command, QString* error);
// Parses, reads and prints; the exit status: 0 when the history was read
// (whether or not any run matched), 1 when it cannot be, 2 for bad arguments.
int RunHistoryCommand(const QStringList& args, const QString& program, std::FILE* out,
                      std::FILE* err);
