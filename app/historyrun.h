#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

#include "engineevent.h"

// One update run as the history keeps it: one row, whichever face ran it.
struct HistoryRun {
    QString id;         // a UUID: a run written again after a failure is still one row
    QDateTime started;  // UTC
    QString host;       // the station's host name
    QString port;       // "COM3 (/dev/ttyUSB0)", "USB"
    QString serial;     // from the version record; empty when none came
    QString loaderSerial;
    QString partNumber;
    QString cpuBefore, fpgaBefore, bootBefore;  // the version record before the run
    QString package;                            // its name, or "built-in test image"
    QString images;   // what was sent: "CPU 248 <sha256>; FPGA 9 <sha256>"
    QString outcome;  // one of HistoryOutcomes()
    QString detail;   // what went wrong, in words
    qint64 durationMs = 0;
    QString cpuAfter, fpgaAfter, bootAfter;  // as read back after the update
    QString runLog;                          // the run log's file name
};

// The words of the outcome column: the engine's outcomes, and two that end a
// run without one.
QString HistoryOutcome(UpdateOutcome outcome);
inline constexpr char kOutcomeDisconnected[] = "Disconnected";  // Disconnect before the outcome
inline constexpr char kOutcomeFailed[] = "Failed";  // the face gave up (a time-out, Ctrl-C)
// Every word a row may hold, for filters.
QStringList HistoryOutcomes();

// The text columns, in table order, by their database and CSV names; the
// row's id, its start and its duration are columns of their own.
struct HistoryTextField {
    const char* name;
    QString HistoryRun::*member;
};
const std::vector<HistoryTextField>& HistoryTextFields();

// "5.100 - 2.300, boot 3.100", as the window shows a version record; empty
// when nothing is known.
QString VersionsText(const QString& cpu, const QString& fpga, const QString& boot);
// "2026-12-07 14:02 Completed (CPU 5.100 → 5.200), z4-2024.1, station-2 COM3",
// for a station row's tool tip.
QString HistoryRunSummary(const HistoryRun& run);

// Every run with a header line, as RFC 4180 CSV: times in UTC (ISO 8601),
// the duration in seconds.
QByteArray HistoryCsv(const std::vector<HistoryRun>& runs);
// Aligned columns for a terminal, times in local time, oldest first as given.
QString HistoryTable(const std::vector<HistoryRun>& runs);

// A run as its spool file holds it, and back; false for a file that is not one.
QJsonObject HistoryRunToJson(const HistoryRun& run);
bool HistoryRunFromJson(const QJsonObject& json, HistoryRun* run);
