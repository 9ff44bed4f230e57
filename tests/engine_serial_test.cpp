// The engine over the real serial link: a pseudo-terminal and the simulated
// receiver on its own thread, with no window. Runs under TSan beside the
// simulator's thread.
#include <gtest/gtest.h>

#include <QTimer>
#include <memory>
#include <vector>

#include "imagestore.h"
#include "receiversim.h"
#include "seriallink.h"
#include "support/event_wait.h"
#include "support/test_firmware.h"
#include "updateengine.h"

namespace {

constexpr int kGuardMs = 120000;  // only against hangs

// A simulated receiver on its pty and an engine whose link opens it.
struct SerialRig {
    explicit SerialRig(unsigned seed) : image(RandomImage(40000, seed)) {
        qsim::SimOptions o;
        o.loaderStartDelayMs = 20;
        o.completionDelayMs = 0;
        sim = std::make_unique<qsim::ReceiverSim>(o);
        std::string error;
        started = sim->Start(&error);
        EXPECT_TRUE(started) << error;
        store.Add("CPU", 1, image);
        const std::string device = sim->DevicePath();
        engine = std::make_unique<UpdateEngine>(
            [device](const CLinkChoice& c) {
                return std::make_unique<CSerialLink>(
                    SerialLinkSettings{static_cast<unsigned>(c.m_nComPort), device, true});
            },
            config, store);
        OnEvent<ev::IdentificationEnded>(*engine, engine.get(), [this](const auto&) {
            QTimer::singleShot(0, engine.get(), [this] { engine->OnFirmwareUpdate(); });
        });
        OnEvent<ev::Finished>(*engine, engine.get(), [this](const ev::Finished& e) {
            completed = e.outcome == UpdateOutcome::Completed;
        });
    }
    ~SerialRig() {
        engine.reset();
        sim->Stop();
    }

    ImageConfig config = OneCpuPartConfig();
    CMemoryImageStore store;
    std::vector<std::uint8_t> image;
    std::unique_ptr<qsim::ReceiverSim> sim;
    std::unique_ptr<UpdateEngine> engine;
    bool started = false;
    bool completed = false;
};

// Full updates over ptys, two at once: engines share nothing, each chains
// its own checksum and keeps its own parser state.
TEST(EngineSerial, TwoEnginesTwoReceiversAtOnce) {
    SerialRig a(2), b(3);
    ASSERT_TRUE(a.started && b.started);
    ASSERT_TRUE(a.engine->OnConnect());
    ASSERT_TRUE(b.engine->OnConnect());
    ASSERT_TRUE(WaitUntil([&] { return a.completed && b.completed; }, kGuardMs));
    for (SerialRig* rig : {&a, &b}) {
        EXPECT_TRUE(rig->sim->CheckImage(0, rig->image).equal);
        const auto stats = rig->sim->Stats();
        EXPECT_EQ(stats.lastChecksumReceived, stats.lastChecksumComputed);
        EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
    }
}

}  // namespace
