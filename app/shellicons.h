#pragma once

#include <QIcon>

// Icons of the program and its tool bar, drawn in code so that they need no
// image plugin. Call them once a QGuiApplication exists.
QIcon ProgramIcon();
QIcon LinkSetupIcon();
QIcon ConnectIcon();
QIcon DisconnectIcon();
QIcon UpdateIcon();
QIcon ReceiverInfoIcon();
QIcon AboutIcon();
