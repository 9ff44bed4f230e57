#pragma once

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

// Where the Chinese catalogue is looked for, first match first: beside the
// program (a build tree), then bin/../share/quorvexupdate (an installation).
QStringList CatalogueDirectories();
