#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "comports.h"
#include "linkchoice.h"

// Exit statuses of a headless run; --help and the README list them.
enum HeadlessExit : int {
    kExitCompleted = 0,        // "Completed!"
    kExitBadArguments = 2,     // bad command line, or the log file cannot be written
    kExitPortNotOpened = 3,    // the serial port could not be opened
    kExitNoAnswer = 4,         // neither a version record nor a loader answer in time
    kExitNoFirmware = 5,       // no image for the receiver's part number
    kExitSilent = 6,           // the receiver answered once, then went silent too long
    kExitTooManyRestarts = 7,  // "VX" more often than --max-restarts
    kExitBootSent = 8,         // boot loader sent: restart the receiver, run again
    kExitBadPackage = 9,       // no firmware package given, or it is not usable
    kExitUnconfirmed = 10,     // all sent; the receiver never reported the end of its flash write
    kExitNotVerified = 11,     // confirmed, but it came back with other versions or not at all
    kExitUpToDate = 12,        // it already runs the package's versions; nothing sent (--force)
    kExitInterrupted = 130,    // SIGINT or SIGTERM; the port was closed first
};

struct HeadlessOptions {
    CLinkChoice link;         // COM number (or the number given to device), USB, restart options
    std::string device;       // set when the port was given as a device path
    bool bootAnswer = false;  // the answer to "Update boot?"
    int timeoutSeconds = 30;  // without a byte from the receiver while it must answer
    int completionTimeoutSeconds = 600;  // the receiver writes its flash after the last block
    int maxRestarts = 3;                 // "VX" restarts taken before giving up
    bool force = false;                  // update a receiver that is up to date
    bool verify = true;                  // read the versions again after the update
    QString logFile;
    QString firmware;    // --firmware: a folder, an installed package's name or "builtin"
    QString historyDb;   // --history-db: where the run is recorded (historydb.h)
    bool check = false;  // --check: only check the package; no port is needed
    bool help = false;
    bool version = false;
};

// Parses the arguments of `quorvexupdate --headless ...` (args[0] is the
// program). False with a one-line reason in *error on a bad command line.
bool ParseHeadlessArguments(const QStringList& args, HeadlessOptions* options, QString* error);

// The --help text; command is how the program is run ("quorvexupdate-cli").
QString HeadlessUsage(const QString& command);
