#pragma once

#include <functional>
#include <memory>

#include "comports.h"
#include "linkchoice.h"

class CSettings;
class ILink;

// The link a choice names. USB: the device with the vendor:product ids of
// the settings file. Serial: the device the choice's port came with; nothing
// is looked up again. The engine opens it.
std::unique_ptr<ILink> MakeLink(const CLinkChoice& choice);
// MakeLink as the engine takes it; usable where ILink is not known.
std::function<std::unique_ptr<ILink>(const CLinkChoice&)> RealLinks();

// Makes port the choice's serial port; the link kind and options stay.
void ChoosePort(CLinkChoice& choice, const ComPort& port);

// The link a window starts with: the choice last made in Link Setup (group
// "Link", key "Port": "COMn" or "USB"), else the port "PortOfMonitor" names.
CLinkChoice SavedLinkChoice(const CSettings& settings);
// Remembers a Link Setup choice for the next start.
bool SaveLinkChoice(const CLinkChoice& choice);
