#include "simpty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qsim {

bool OpenSimPty(SimPty* pty, std::string* error) {
    termios tio{};
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&tio, B115200);
    char name[128] = {};
    if (openpty(&pty->master, &pty->slave, name, &tio, nullptr) != 0) {
        if (error) *error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    // openpty applies the settings to the slave; set them once more on both
    // ends in case the C library skipped the raw flags.
    tcsetattr(pty->slave, TCSANOW, &tio);
    tcsetattr(pty->master, TCSANOW, &tio);
    const int flags = fcntl(pty->master, F_GETFL);
    fcntl(pty->master, F_SETFL, flags | O_NONBLOCK);
    fcntl(pty->master, F_SETFD, FD_CLOEXEC);
    fcntl(pty->slave, F_SETFD, FD_CLOEXEC);
    pty->path = name;
    return true;
}

void CloseSimPty(SimPty* pty) {
    if (pty->master >= 0) close(pty->master);
    if (pty->slave >= 0) close(pty->slave);
    pty->master = pty->slave = -1;
}

int HostBaud(int master) {
    termios tio{};
    if (tcgetattr(master, &tio) != 0) return 0;
    switch (cfgetospeed(&tio)) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

}  // namespace qsim
