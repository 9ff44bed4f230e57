#pragma once

#include <string>

namespace qsim {

// A pseudo-terminal pair in raw 8N1 at 115200. The device end (slave) is what
// the updater opens; the simulator serves the master and keeps its own slave
// descriptor open, so the master never reads EIO while the updater has the
// device closed between connections.
struct SimPty {
    int master = -1;
    int slave = -1;
    std::string path;
};

bool OpenSimPty(SimPty* pty, std::string* error);
void CloseSimPty(SimPty* pty);

// The line speed the updater set on the device end, in baud (0 if unknown).
// tcgetattr on the master reports the slave's settings.
int HostBaud(int master);

}  // namespace qsim
