#pragma once

#include "receiversim.h"

namespace qsim {

// What receiver-sim is asked for on its command line.
struct SimCommandLine {
    SimOptions sim;
    bool exitAfterUpdate = false;
    bool quiet = false;
};

// Reads the options into out. Returns -1 to go on, or the status to exit
// with at once: 0 after --help or --version, 2 after a bad option (said on
// stderr).
int ParseSimCommandLine(int argc, char** argv, SimCommandLine* out);

}  // namespace qsim
