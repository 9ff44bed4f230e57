// receiver-sim: a simulated Z4 receiver on a pseudo-terminal.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "receiversim.h"
#include "simcommandline.h"

namespace {

const char* ModeName(qsim::SimMode mode) {
    switch (mode) {
        case qsim::SimMode::NotStarted:
            return "not started";
        case qsim::SimMode::Firmware:
            return "firmware";
        case qsim::SimMode::Restarting:
            return "restarting";
        case qsim::SimMode::Loader:
            return "loader";
        case qsim::SimMode::HungUp:
            return "hung up";
        case qsim::SimMode::Stopped:
            return "stopped";
    }
    return "?";
}

// One line on stderr for each thing a person watching would want to know.
void Report(const qsim::SimStats& now, const qsim::SimStats& before) {
    if (now.mode != before.mode || now.listenBaud != before.listenBaud) {
        std::fprintf(stderr, "receiver-sim: %s, listening at %d baud\n", ModeName(now.mode),
                     now.listenBaud);
    }
    if (now.versionRequests != before.versionRequests) {
        std::fprintf(stderr, "receiver-sim: \"log version\" #%d\n", now.versionRequests);
    }
    if (now.ssPolls != before.ssPolls)
        std::fprintf(stderr, "receiver-sim: \"SS\" #%d\n", now.ssPolls);
    if (now.atFrames != before.atFrames) std::fprintf(stderr, "receiver-sim: \"AT\"\n");
    if (now.transfersStarted != before.transfersStarted) {
        std::fprintf(stderr, "receiver-sim: transfer started\n");
    }
    if (now.sxFrames / 1000 != before.sxFrames / 1000) {
        std::fprintf(stderr, "receiver-sim: %d blocks\n", now.sxFrames);
    }
    for (std::size_t i = before.errors.size(); i < now.errors.size(); ++i) {
        std::fprintf(stderr, "receiver-sim: %s\n", now.errors[i].c_str());
    }
    if (now.scSent != before.scSent) {
        std::fprintf(stderr, "receiver-sim: \"SC\" sent after %d blocks, checksum 0x%08X\n",
                     now.sxFrames, now.lastChecksumComputed);
    }
    if (now.vxSent != before.vxSent) std::fprintf(stderr, "receiver-sim: \"VX\" sent\n");
    for (std::size_t i = before.recordedFiles.size(); i < now.recordedFiles.size(); ++i) {
        std::fprintf(stderr, "receiver-sim: wrote %s\n", now.recordedFiles[i].c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    qsim::SimCommandLine args;
    if (const int status = qsim::ParseSimCommandLine(argc, argv, &args); status >= 0) return status;

    // Block the stop signals before the serving thread exists, so that it
    // inherits the mask and only this thread takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    qsim::ReceiverSim sim(args.sim);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "receiver-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.DevicePath().c_str());
    std::fflush(stdout);

    qsim::SimStats before = sim.Stats();
    const timespec tick{0, 100 * 1000 * 1000};
    for (;;) {
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        const qsim::SimStats now = sim.Stats();
        if (!args.quiet) Report(now, before);
        before = now;
        if (sig == SIGINT || sig == SIGTERM) break;
        if (sim.Finished()) break;
        if (args.exitAfterUpdate && now.completedUpdates > 0) {
            // Give the updater a moment to read "SC" before the line goes.
            const timespec grace{0, 300 * 1000 * 1000};
            sigtimedwait(&stopSignals, nullptr, &grace);
            break;
        }
    }
    sim.Stop();
    return 0;
}
