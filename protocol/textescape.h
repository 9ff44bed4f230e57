#pragma once

#include <string>
#include <string_view>

// Text from outside (package files, file names, the settings file) made safe
// to show: valid UTF-8 passes, C0 controls and DEL become "\x1b", C1
// controls "\u009b", bytes that are not UTF-8 "\xff", and a byte-order mark
// is named "<byte-order mark>". Backslashes are left alone: a path may hold
// them, and what matters is that nothing unseen reaches the screen.
std::string EscapedForDisplay(std::string_view text);
