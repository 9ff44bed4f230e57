// The USB link against real libusb, with emulated receivers behind umockdev.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <thread>

#include "serial_recorder.h"
#include "support/usb_fakedevice.h"
#include "support/usb_recording_listener.h"
#include "usb_discovery.h"
#include "usblink.h"
#include "usbupdate.h"

using namespace std::chrono_literals;

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed = 0) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds guard = 20s) {
    const auto until = std::chrono::steady_clock::now() + guard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class UsbDeviceTest : public ::testing::Test {
protected:
    void TearDown() override { m_usb.reset(); }

    // The vendor:product ids the operator configured.
    void SetConfiguredIds(const char* ids) { m_ids = ParseUsbIdList(QString::fromLatin1(ids)); }

    FakeUsbDevice* Add(FakeUsbConfig config) {
        FakeUsbDevice* device = m_bus.Add(config);
        EXPECT_NE(device, nullptr);
        return device;
    }
    // Starts the link (or asks it to look again) and waits until its thread
    // reports the device open.
    bool Connect() {
        if (!m_usb) {
            m_usb = std::make_unique<CUsbUpdate>();
            m_usb->Start(&m_owner, m_ids);
        } else {
            m_usb->Search();
        }
        return m_owner.WaitReady(++m_nReady) && m_usb->IsOpen();
    }
    void Write(const std::vector<std::uint8_t>& bytes) {
        std::int32_t queued = -1;
        ASSERT_TRUE(
            m_usb->UsbWrite(bytes.data(), static_cast<std::int32_t>(bytes.size()), &queued));
        ASSERT_EQ(queued, static_cast<std::int32_t>(bytes.size()));
    }

    FakeUsbBus m_bus;  // outlives the link
    UsbRecordingListener m_owner;
    std::vector<UsbId> m_ids;
    std::unique_ptr<CUsbUpdate> m_usb;
    int m_nReady = 0;
};

// --- finding the receiver ---------------------------------------------------

TEST_F(UsbDeviceTest, NothingConfiguredAndNoInterfaceClassFindsNothing) {
    FakeUsbDevice* device = Add(FakeUsbConfig());
    m_usb = std::make_unique<CUsbUpdate>();
    m_usb->Start(&m_owner, m_ids);
    // The thread looks before it drops what is queued: once the write is
    // dropped, the search has been made and found nothing.
    Write(Pattern(3));
    ASSERT_TRUE(m_usb->WaitTxDone(20s));
    EXPECT_FALSE(m_usb->IsOpen());
    EXPECT_EQ(device->Count("claim"), 0);
    EXPECT_EQ(m_owner.Ready(), 0);
}

TEST_F(UsbDeviceTest, AReceiverPluggedInAfterTheStartIsFoundAndOpened) {
    SetConfiguredIds("1234:5678");
    m_usb = std::make_unique<CUsbUpdate>();
    m_usb->Start(&m_owner, m_ids);
    Write(Pattern(3));
    ASSERT_TRUE(m_usb->WaitTxDone(20s));  // searched once, found nothing
    FakeUsbDevice* device = Add(FakeUsbConfig().At(8));
    ASSERT_TRUE(m_owner.WaitReady(1)) << (m_usb->HasHotplug() ? "hotplug" : "poll");
    EXPECT_EQ(m_usb->DevicePath(), "/dev/bus/usb/001/008");
    Write(Pattern(12));
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 12));
    EXPECT_EQ(device->Count("claim"), 1);
}

TEST_F(UsbDeviceTest, ConfiguredVendorProductIsFoundAndCarriesBytesBothWays) {
    Add(FakeUsbConfig().Ids(0xabcd, 0xef01));
    SetConfiguredIds("1234:5678, abcd:ef01");
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(m_usb->IsOpen());
    const auto bytes = Pattern(100);
    Write(bytes);
    std::vector<std::uint8_t> echoed;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &echoed, bytes.size()));
    EXPECT_EQ(echoed, bytes);
}

TEST_F(UsbDeviceTest, FirstInterfaceClassWinsOverSecondAndOverConfiguredIds) {
    FakeUsbDevice* byId = Add(FakeUsbConfig().At(2).Ids(0x1111, 0x2222));
    FakeUsbDevice* second = Add(FakeUsbConfig().At(3).Class(kUsbInterfaceClass2));
    FakeUsbDevice* first = Add(FakeUsbConfig().At(4).Class(kUsbInterfaceClass1));
    SetConfiguredIds("1111:2222");
    ASSERT_TRUE(Connect());
    Write(Pattern(20));
    ASSERT_TRUE(first->WaitReceived(20));
    EXPECT_TRUE(second->Received().empty());
    EXPECT_TRUE(byId->Received().empty());
}

TEST_F(UsbDeviceTest, SecondInterfaceClassIsFoundWhenTheFirstIsAbsent) {
    FakeUsbDevice* byId = Add(FakeUsbConfig().At(2).Ids(0x1111, 0x2222));
    FakeUsbDevice* second =
        Add(FakeUsbConfig().At(5).Class("{47a0b4e2-37be-4b60-ab6b-895cf1efa99c}"));
    SetConfiguredIds("1111:2222");
    ASSERT_TRUE(Connect());
    Write(Pattern(20));
    ASSERT_TRUE(second->WaitReceived(20));
    EXPECT_TRUE(byId->Received().empty());
}

TEST_F(UsbDeviceTest, OfTwoDevicesOfTheFirstClassTheLowestAddressIsUsed) {
    FakeUsbDevice* later = Add(FakeUsbConfig().At(7).Class(kUsbInterfaceClass1));
    FakeUsbDevice* earlier = Add(FakeUsbConfig().At(6).Class(kUsbInterfaceClass1));
    ASSERT_TRUE(Connect());
    Write(Pattern(20));
    ASSERT_TRUE(earlier->WaitReceived(20));
    EXPECT_TRUE(later->Received().empty());
    EXPECT_EQ(earlier->Count("claim"), 1);
    EXPECT_EQ(later->Count("claim"), 0);
}

// --- transfers ----------------------------------------------------------------

TEST_F(UsbDeviceTest, SendsInChunksOf512Bytes) {
    FakeUsbDevice* device = Add(FakeUsbConfig().Reply(FakeReply::None));
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    const auto bytes = Pattern(1300);
    Write(bytes);
    ASSERT_TRUE(m_usb->WaitTxDone(20s));
    ASSERT_TRUE(device->WaitReceived(bytes.size()));
    EXPECT_EQ(device->Received(), bytes);
    EXPECT_EQ(device->OutSizes(), (std::vector<int>{512, 512, 276}));
}

TEST_F(UsbDeviceTest, AReceiveOfExactly512FillsOneChunkAndTheRestComesNext) {
    FakeUsbDevice* device = Add(FakeUsbConfig().Reply(FakeReply::None));
    SetConfiguredIds("1234:5678");
    const auto bytes = Pattern(700, 3);
    device->Send(bytes);  // waiting in the device before the first read
    ASSERT_TRUE(Connect());
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, bytes.size()));
    EXPECT_EQ(got, bytes);
}

TEST_F(UsbDeviceTest, ASilentDeviceTimesOutTheReadAndTheNextBytesStillArrive) {
    FakeUsbDevice* device = Add(FakeUsbConfig().Reply(FakeReply::None));
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    // libusb ends an IN transfer that sees no data by discarding its URB.
    ASSERT_TRUE(device->WaitCount("discard", 1));
    EXPECT_EQ(m_owner.Notices(), 0u);
    device->Send(Pattern(30));  // only a read after the time-out can take these
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 30));
    EXPECT_EQ(got, Pattern(30));
}

TEST_F(UsbDeviceTest, AStalledInPipeIsClearedAndReadingGoesOn) {
    FakeUsbDevice* device = Add(FakeUsbConfig().Reply(FakeReply::None));
    device->StallNextIn();
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(device->WaitCount("clear_halt", 1));
    device->Send(Pattern(40));
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 40));
    EXPECT_EQ(got, Pattern(40));
    EXPECT_EQ(device->Count("clear_halt"), 1);
}

// --- the written signal --------------------------------------------------------

TEST_F(UsbDeviceTest, WrittenSignalWaitsForTheBatchCarryingTheLastWrite) {
    FakeUsbDevice* device = Add(FakeUsbConfig().Reply(FakeReply::None));
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    device->SetOutBudget(0);  // the device takes no OUT data for now
    Write(Pattern(10, 1));
    ASSERT_TRUE(device->WaitOutSubmitted(1));
    Write(Pattern(10, 2));  // queued behind the held batch
    EXPECT_FALSE(m_usb->WaitTxDone(300ms)) << "nothing written yet";
    device->AddOutBudget(1);  // the older batch goes out
    ASSERT_TRUE(device->WaitReceived(10));
    EXPECT_FALSE(m_usb->WaitTxDone(300ms)) << "released by an older batch";
    device->AddOutBudget(1);
    EXPECT_TRUE(m_usb->WaitTxDone(20s));
    EXPECT_EQ(device->Received().size(), 20u);
}

TEST_F(UsbDeviceTest, AWaiterStartingAfterTheBatchWentOutIsNotStranded) {
    FakeUsbDevice* device = Add(FakeUsbConfig().Reply(FakeReply::None));
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    Write(Pattern(10));
    ASSERT_TRUE(device->WaitReceived(10));
    ASSERT_TRUE(WaitFor([&] { return m_usb->WaitTxDone(0ms); }));
    EXPECT_TRUE(m_usb->WaitTxDone(0ms)) << "a batch written before the wait still counts";
}

// --- closing, reopening, unplugging ---------------------------------------------

TEST_F(UsbDeviceTest, CloseAndReopenKeepsOneThreadAndReleasesFirst) {
    FakeUsbDevice* device = Add(FakeUsbConfig());
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    Write(Pattern(16));
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 16));

    m_usb->CloseDevice();
    EXPECT_FALSE(m_usb->IsOpen());
    EXPECT_EQ(device->Count("release"), 1) << "interface released by the close";
    EXPECT_TRUE(m_usb->ReaderAlive());

    // With the device closed the thread keeps looping and drops what is queued.
    Write(Pattern(8));
    EXPECT_TRUE(m_usb->WaitTxDone(20s));

    EXPECT_EQ(device->Count("claim"), 1) << "a closed link looks for nothing until asked";
    ASSERT_TRUE(Connect());
    EXPECT_EQ(device->Count("claim"), 2);
    got.clear();
    Write(Pattern(16, 9));
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 16));
    EXPECT_EQ(got, Pattern(16, 9));
}

TEST_F(UsbDeviceTest, UnplugMidTransferIsReportedOnceAndTheReplugIsPickedUp) {
    FakeUsbDevice* old = Add(FakeUsbConfig().At(2));
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    Write(Pattern(10));
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 10));

    old->Unplug();  // the pending IN transfer ends with "no device"
    ASSERT_TRUE(m_owner.WaitLost(1));
    EXPECT_FALSE(m_usb->IsOpen());
    EXPECT_NE(m_owner.Lost()[0].find("/dev/bus/usb/001/002"), std::string::npos)
        << "the line names the device: " << m_owner.Lost()[0];
    EXPECT_TRUE(m_usb->ReaderAlive());
    const int submits = old->Count("submit_in") + old->Count("submit_out");
    Write(Pattern(4));  // dropped: proves the thread loops on without the device
    EXPECT_TRUE(m_usb->WaitTxDone(20s));
    EXPECT_EQ(old->Count("submit_in") + old->Count("submit_out"), submits)
        << "nothing more is tried on the dead device";

    m_bus.Remove(old);
    FakeUsbDevice* fresh = Add(FakeUsbConfig().At(9));  // re-enumerated under a new address
    ASSERT_TRUE(Connect());
    got.clear();
    Write(Pattern(12, 4));
    ASSERT_TRUE(m_owner.Collect(*m_usb, &got, 12));
    EXPECT_EQ(got, Pattern(12, 4));
    EXPECT_EQ(fresh->Count("claim"), 1);
    EXPECT_EQ(m_owner.Lost().size(), 1u);
}

TEST_F(UsbDeviceTest, ShutdownReleasesTheDeviceAndEndsTheThread) {
    FakeUsbDevice* device = Add(FakeUsbConfig());
    SetConfiguredIds("1234:5678");
    ASSERT_TRUE(Connect());
    m_usb->Shutdown();
    EXPECT_FALSE(m_usb->ReaderAlive());
    EXPECT_EQ(device->Count("release"), 1);
    EXPECT_TRUE(m_owner.Lost().empty()) << "letting go is no lost device";
}

// --- the link the engine owns -----------------------------------------------------

TEST_F(UsbDeviceTest, LinkNoticesOnTheEdgeCarriesBytesBothWaysAndCloseEndsItsThread) {
    FakeUsbDevice* device = Add(FakeUsbConfig().At(4).Reply(FakeReply::None));
    const auto waiting = Pattern(700, 3);
    device->Send(waiting);  // read as 512 and 188
    ListenerRecorder listener;
    CUsbLink link({{0x1234, 0x5678}});
    ASSERT_TRUE(link.Open(&listener));
    ASSERT_TRUE(listener.WaitForReady(1));
    ASSERT_TRUE(link.IsReady());
    EXPECT_EQ(link.Device(), "/dev/bus/usb/001/004");

    std::vector<std::uint8_t> got;
    std::size_t handled = 0;
    while (got.size() < waiting.size() && listener.WaitForNoticeAfter(handled)) {
        handled = listener.Notices();
        DrainLink(link, &got);
    }
    EXPECT_EQ(got, waiting);

    const auto command = Pattern(30, 5);
    link.Write(command.data(), command.size());
    EXPECT_TRUE(WaitFor([&] { return link.IsWritten(); }));
    ASSERT_TRUE(device->WaitReceived(command.size()));
    EXPECT_EQ(device->Received(), command);

    // After the reset text the device goes and comes back as the loader.
    link.Release();
    EXPECT_FALSE(link.IsReady());
    link.Reattach();
    ASSERT_TRUE(listener.WaitForReady(2));
    EXPECT_TRUE(link.IsReady());
    EXPECT_EQ(device->Count("claim"), 2);

    link.Close();
    EXPECT_FALSE(link.IsReady());
    EXPECT_TRUE(listener.Errors().empty());
}

}  // namespace

int main(int argc, char** argv) {
    RunUnderUmockdev(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
