#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// Where installed files are found at run time: by the XDG base directory
// rules and relative to the program, never by a path fixed when the program
// was configured, so an installation under any prefix (or a build tree)
// finds its own files.

// The folders firmware packages are looked for in by name, first match
// first: quorvexupdate/firmware in the user's data folder ($XDG_DATA_HOME,
// ~/.local/share when unset), then in each folder of $XDG_DATA_DIRS
// (/usr/local/share and /usr/share when unset).
std::vector<std::string> FirmwareSearchFolders();

// The program's folder in the user's data ($XDG_DATA_HOME, ~/.local/share)
// and state ($XDG_STATE_HOME, ~/.local/state) folders; a relative variable
// is ignored, as the XDG rules say.
QString UserDataFolder();
QString UserStateFolder();

// Where the Chinese catalogue is looked for, first match first: beside the
// program (a build tree), then bin/../share/quorvexupdate (an installation).
QStringList CatalogueDirectories();
