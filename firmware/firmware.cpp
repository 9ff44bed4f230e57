#include "firmware.h"

#include <QtCore/qglobal.h>

void InitFirmwareResources() {
    // Registration happens at static initialisation; this only anchors the
    // resource object file so that a static link keeps it.
}
