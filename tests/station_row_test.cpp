// Station rows without a window, all on the test's one thread: each with its
// own engine, link and simulated receiver. Built under TSan too, where the
// simulators' threads meet the rows' links.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "firmware.h"
#include "imagestore.h"
#include "linkfactory.h"
#include "receiversim.h"
#include "stationrow.h"
#include "support/event_wait.h"
#include "support/temp_settings.h"

namespace {

constexpr int kGuardMs = 120000;  // only against hangs

TEST(StationRows, OneCompletesOneIsPulledOneIsRemovedMidTransfer) {
    TempSettings settings;
    std::vector<std::uint8_t> image(200 * 128 + 9);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31);
    FirmwarePackage package = BuiltinFirmwarePackage();
    auto store = std::make_shared<CMemoryImageStore>();
    store->Add("CPU", 248, image);
    package.store = store;

    std::vector<std::unique_ptr<qsim::ReceiverSim>> sims;
    std::vector<std::unique_ptr<CStationRow>> rows;
    for (int i = 0; i < 3; ++i) {
        qsim::SimOptions o;
        o.loaderStartDelayMs = 20;
        if (i == 1) o.hangUpAfterBlocks = 40;
        sims.push_back(std::make_unique<qsim::ReceiverSim>(o));
        ASSERT_TRUE(sims.back()->Start());
        rows.push_back(std::make_unique<CStationRow>(
            QString::fromStdString(sims.back()->DevicePath()), package, RealLinks(), 30, 600));
        rows.back()->Connect();
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto& row : rows)
                if (!row->IsIdle()) return false;
            return true;
        },
        kGuardMs));
    for (const auto& row : rows) row->Update();
    // The rows run on this thread: wait on its event loop, not on the simulator.
    ASSERT_TRUE(WaitUntil([&] { return sims[2]->Stats().sxFrames > 20; }, kGuardMs));
    rows.pop_back();  // closes its line in the middle of the transfer
    ASSERT_TRUE(WaitUntil(
        [&] {
            return rows[0]->Result() != StationResult::None &&
                   rows[1]->Result() != StationResult::None && !rows[1]->State().connected;
        },
        kGuardMs));
    EXPECT_EQ(rows[0]->Result(), StationResult::Completed) << rows[0]->ResultText().toStdString();
    EXPECT_TRUE(sims[0]->CheckImage(0, image).equal);
    EXPECT_EQ(rows[1]->Result(), StationResult::Failed);
    EXPECT_EQ(rows[1]->ResultText(), "The line to the receiver was lost");
    EXPECT_EQ(sims[2]->Stats().completedUpdates, 0);
    for (auto& sim : sims) sim->Stop();
}

}  // namespace
