// The definition text "baud=%d parity=%c data=%d stop=%d" applied to a line.
#include <gtest/gtest.h>

#include <cerrno>

#include "serialport.h"

namespace {

termios Cooked() {
    termios state = {};
    state.c_iflag = ICRNL | IXON;
    state.c_oflag = OPOST | ONLCR;
    state.c_cflag = CS7 | CREAD | CRTSCTS;
    state.c_lflag = ICANON | ECHO | ISIG;
    cfsetspeed(&state, B38400);
    return state;
}

TEST(BuildCommDCB, AppliesTheDefinitionText) {
    struct Row {
        const char* def;
        speed_t speed;
        tcflag_t frame;  // CSIZE | PARENB | PARODD | CMSPAR | CSTOPB bits
    };
    const Row rows[] = {
        {"baud=115200 parity=N data=8 stop=1", B115200, CS8},
        {"baud=9600 parity=N data=8 stop=1", B9600, CS8},
        {"baud=9600 parity=E data=7 stop=1", B9600, CS7 | PARENB},
        {"baud=19200 parity=O data=8 stop=2", B19200, CS8 | PARENB | PARODD | CSTOPB},
        {"baud=4800 parity=M data=5 stop=1", B4800, CS5 | PARENB | PARODD | CMSPAR},
        {"baud=4800 parity=s data=6 stop=1", B4800, CS6 | PARENB | CMSPAR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.def);
        termios state = Cooked();
        ASSERT_TRUE(BuildCommDCB(row.def, &state));
        EXPECT_EQ(cfgetospeed(&state), row.speed);
        EXPECT_EQ(cfgetispeed(&state), row.speed);
        EXPECT_EQ(state.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), row.frame);
        EXPECT_EQ(state.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
        EXPECT_EQ(state.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(state.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(state.c_iflag & (ICRNL | IXON), 0u);
        EXPECT_EQ(state.c_oflag & OPOST, 0u);
        EXPECT_EQ(state.c_iflag & INPCK, (row.frame & PARENB) ? INPCK : 0u);
    }
}

TEST(BuildCommDCB, RefusesWhatItCannotApplyAndLeavesTheLineAlone) {
    for (const char* def : {"baud=12345 parity=N data=8 stop=1", "baud=0 parity=N data=8 stop=1",
                            "baud=9600 parity=X data=8 stop=1", "baud=9600 parity=N data=9 stop=1",
                            "baud=9600 parity=N data=4 stop=1", "baud=9600 parity=N data=8 stop=3",
                            "baud=9600 parity=N data=8", "", "9600,n,8,1"}) {
        SCOPED_TRACE(def);
        termios state = Cooked();
        errno = 0;
        EXPECT_FALSE(BuildCommDCB(def, &state));
        EXPECT_EQ(errno, EINVAL);
        const termios untouched = Cooked();
        EXPECT_EQ(state.c_cflag, untouched.c_cflag);
        EXPECT_EQ(state.c_lflag, untouched.c_lflag);
        EXPECT_EQ(cfgetospeed(&state), cfgetospeed(&untouched));
    }
}

}  // namespace
