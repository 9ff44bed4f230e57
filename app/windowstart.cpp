#include "windowstart.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "headless_options.h"

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

int CheckWindowStart(int argc, char** argv) {
    static const char* const kWithValue[] = {"-platform", "-style", "-geometry", "-display"};
    bool platformGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool known = std::strcmp(arg, "-reverse") == 0;
        for (const char* option : kWithValue) {
            if (std::strcmp(arg, option) != 0) continue;
            if (i + 1 >= argc) {
                std::fprintf(stderr,
                             "quorvexupdate: %s needs a value\nTry 'quorvexupdate --help'.\n", arg);
                return kExitBadArguments;
            }
            platformGiven = platformGiven || std::strcmp(arg, "-platform") == 0;
            known = true;
            ++i;
        }
        if (!known) {
            std::fprintf(stderr,
                         "quorvexupdate: unknown option '%s' (the window takes none; an update "
                         "without a window is 'quorvexupdate --headless')\n"
                         "Try 'quorvexupdate --help'.\n",
                         arg);
            return kExitBadArguments;
        }
    }
    // Qt's xcb and wayland plugins need one of these; any platform named
    // outright (offscreen, vnc, a test's) is Qt's to try.
    if (!platformGiven && !IsSet("QT_QPA_PLATFORM") && !IsSet("DISPLAY") &&
        !IsSet("WAYLAND_DISPLAY")) {
        std::fputs(
            "quorvexupdate: no display to open the window on (neither DISPLAY nor "
            "WAYLAND_DISPLAY is set).\n"
            "For an update without a window use 'quorvexupdate --headless' or "
            "'quorvexupdate-cli'; see 'quorvexupdate --help'.\n",
            stderr);
        return kExitBadArguments;
    }
    return 0;
}
