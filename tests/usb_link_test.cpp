// The USB link's parts that need no device: the send ring's limits, the read
// thread's life, the link before its device comes, the written signal, and
// the parsers behind device discovery.
#include <gtest/gtest.h>

#include <thread>

#include "serial_recorder.h"
#include "usb_discovery.h"
#include "usb_signal.h"
#include "usblink.h"
#include "usbupdate.h"

using namespace std::chrono_literals;

namespace {

// --- send ring ------------------------------------------------------------------

TEST(UsbWrite, ACommandOfExactlyTheFreeSpaceIsQueuedOneByteMoreIsNot) {
    CUsbUpdate usb;  // no thread: nothing drains the ring
    std::vector<std::uint8_t> bytes(kUsbRingSize - 100, 0x55);
    std::int32_t queued = -1;
    ASSERT_TRUE(usb.UsbWrite(bytes.data(), 100, &queued));
    EXPECT_EQ(queued, 100);
    ASSERT_TRUE(usb.UsbWrite(bytes.data(), static_cast<std::int32_t>(bytes.size()) + 1, &queued));
    EXPECT_EQ(queued, 0) << "one byte more than the free space queues nothing";
    ASSERT_TRUE(usb.UsbWrite(bytes.data(), static_cast<std::int32_t>(bytes.size()), &queued));
    EXPECT_EQ(queued, static_cast<std::int32_t>(kUsbRingSize - 100));
    ASSERT_TRUE(usb.UsbWrite(bytes.data(), 1, &queued));
    EXPECT_EQ(queued, 0);
}

TEST(UsbWrite, NegativeOrNullInputQueuesNothing) {
    CUsbUpdate usb;
    std::uint8_t byte = 1;
    std::int32_t queued = -1;
    EXPECT_TRUE(usb.UsbWrite(&byte, -5, &queued));
    EXPECT_EQ(queued, 0);
    EXPECT_TRUE(usb.UsbWrite(nullptr, 10, &queued));
    EXPECT_EQ(queued, 0);
}

// --- the link's thread without a device ---------------------------------------------

TEST(UsbReadThread, RunsWithoutADeviceDropsWhatIsQueuedAndShutdownJoinsIt) {
    CUsbUpdate usb;
    usb.Start(nullptr, {{0x1234, 0x5678}});
    ASSERT_TRUE(usb.ReaderAlive());
    std::vector<std::uint8_t> bytes(1500, 7);
    std::int32_t queued = 0;
    usb.UsbWrite(bytes.data(), static_cast<std::int32_t>(bytes.size()), &queued);
    ASSERT_EQ(queued, 1500);
    EXPECT_TRUE(usb.WaitTxDone(20s)) << "a waiter is released even with nowhere to write";
    EXPECT_FALSE(usb.IsOpen());
    usb.Shutdown();
    EXPECT_FALSE(usb.ReaderAlive()) << "the thread ended before Shutdown returned";
}

TEST(UsbLink, OpensWithoutADeviceAndWaitsForIt) {
    ListenerRecorder listener;
    CUsbLink link({{0x1234, 0x5678}});
    EXPECT_EQ(link.Kind(), LinkKind::Usb);
    EXPECT_TRUE(link.Open(&listener)) << "the receiver may come later";
    EXPECT_FALSE(link.IsReady());
    EXPECT_FALSE(link.Reattach()) << "the search runs on the link's thread";
    EXPECT_EQ(link.Device(), "USB");
    const std::uint8_t command[] = {'l', 'o', 'g'};
    link.Write(command, sizeof command);
    EXPECT_TRUE(link.IsWritten()) << "nothing is queued for a device that is not there";
    link.Close();
    EXPECT_TRUE(listener.Errors().empty());
}

TEST(UsbReadThread, WaitTxDoneWithoutAThreadGivesUpAtItsBound) {
    CUsbUpdate usb;
    std::uint8_t byte = 1;
    std::int32_t queued = 0;
    usb.UsbWrite(&byte, 1, &queued);
    EXPECT_FALSE(usb.WaitTxDone(50ms));
}

// --- signals ----------------------------------------------------------------------

TEST(LinkEvent, ASetBeforeTheWaitIsNotLostAndResetClearsIt) {
    LinkEvent event;
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_TRUE(event.WaitFor(0ms)) << "manual reset: stays set";
    event.Reset();
    EXPECT_FALSE(event.WaitFor(1ms));
}

TEST(LinkEvent, ASetFromAnotherThreadReleasesTheWaiter) {
    LinkEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.WaitFor(20s));
    setter.join();
}

TEST(WrittenSignal, ReleasesOnlyAtOrPastTheTargetAcrossTheWrap) {
    WrittenSignal signal;
    signal.Publish(0xFFFFFFF0u);
    EXPECT_FALSE(signal.WaitReached(0x00000010u, 0ms)) << "target lies past the wrap";
    signal.Publish(0x00000008u);
    EXPECT_FALSE(signal.WaitReached(0x00000010u, 0ms));
    std::thread publisher([&] { signal.Publish(0x00000010u); });
    EXPECT_TRUE(signal.WaitReached(0x00000010u, 20s));
    publisher.join();
    EXPECT_TRUE(signal.WaitReached(0xFFFFFFF0u, 0ms)) << "an older target is long reached";
}

// --- discovery parsers ------------------------------------------------------------

struct IdCase {
    const char* name;
    const char* text;
    std::vector<UsbId> ids;
};

TEST(ParseUsbIdList, Table) {
    const IdCase cases[] = {
        {"empty", "", {}},
        {"one", "1234:5678", {{0x1234, 0x5678}}},
        {"two with spaces", " 1234:5678 , abcd:EF01 ", {{0x1234, 0x5678}, {0xabcd, 0xef01}}},
        {"malformed entries skipped", "12345:678,zzzz:0001,1:2,0403:6001", {{0x0403, 0x6001}}},
        {"missing product", "1234:,1234", {}},
    };
    for (const IdCase& c : cases) {
        EXPECT_EQ(ParseUsbIdList(QString::fromLatin1(c.text)), c.ids) << c.name;
    }
}

std::vector<std::uint8_t> Utf16(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

void Le32(std::vector<std::uint8_t>* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> Section(std::uint32_t type, const std::string& name,
                                  const std::string& value) {
    const auto n = Utf16(name + '\0');
    const auto v = Utf16(value);
    std::vector<std::uint8_t> s;
    Le32(&s, static_cast<std::uint32_t>(14 + n.size() + v.size()));
    Le32(&s, type);
    s.push_back(static_cast<std::uint8_t>(n.size()));
    s.push_back(0);
    s.insert(s.end(), n.begin(), n.end());
    Le32(&s, static_cast<std::uint32_t>(v.size()));
    s.insert(s.end(), v.begin(), v.end());
    return s;
}

std::vector<std::uint8_t> Descriptor(const std::vector<std::vector<std::uint8_t>>& sections) {
    std::size_t total = 10;
    for (const auto& s : sections) total += s.size();
    std::vector<std::uint8_t> d;
    Le32(&d, static_cast<std::uint32_t>(total));
    d.insert(d.end(), {0x00, 0x01, 0x05, 0x00, static_cast<std::uint8_t>(sections.size()), 0x00});
    for (const auto& s : sections) d.insert(d.end(), s.begin(), s.end());
    return d;
}

const std::string kGuid1 = kUsbInterfaceClass1;
const std::string kGuid2 = kUsbInterfaceClass2;

TEST(ParseMsOsExtendedProperties, FindsGuidsInStringAndMultiStringProperties) {
    const auto d =
        Descriptor({Section(1, "Label", "x"), Section(1, "DeviceInterfaceGUID", kGuid1 + '\0'),
                    Section(7, "DeviceInterfaceGUIDs", kGuid2 + '\0' + kGuid1 + '\0' + '\0')});
    EXPECT_EQ(ParseMsOsExtendedProperties(d.data(), d.size()),
              (std::vector<std::string>{kGuid1, kGuid2, kGuid1}));
}

TEST(ParseMsOsExtendedProperties, MalformedInputStopsTheWalkWithoutReadingPastTheEnd) {
    const auto good = Descriptor({Section(1, "DeviceInterfaceGUID", kGuid1 + '\0')});
    // Cut anywhere: never more than what fits, never a crash (ASan watches).
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        std::vector<std::uint8_t> copy(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_TRUE(ParseMsOsExtendedProperties(copy.data(), copy.size()).empty()) << cut;
    }
    auto wrongIndex = good;
    wrongIndex[6] = 4;  // an extended compat id descriptor, not properties
    EXPECT_TRUE(ParseMsOsExtendedProperties(wrongIndex.data(), wrongIndex.size()).empty());
    auto hugeSection = good;
    hugeSection[10] = 0xFF;
    hugeSection[11] = 0xFF;
    EXPECT_TRUE(ParseMsOsExtendedProperties(hugeSection.data(), hugeSection.size()).empty());
    // A value length near 2^32: added to the other lengths it wrapped around
    // and passed, and the text was read far past the buffer.
    auto wrapping = good;
    const std::size_t valueLengthAt = 10 + 10 + Utf16("DeviceInterfaceGUID").size() + 2;
    for (std::size_t i = 0; i < 4; ++i) wrapping[valueLengthAt + i] = i == 0 ? 0xF2 : 0xFF;
    EXPECT_TRUE(ParseMsOsExtendedProperties(wrapping.data(), wrapping.size()).empty());
    EXPECT_TRUE(ParseMsOsExtendedProperties(nullptr, 100).empty());
}

TEST(MsOsDescriptors, VendorCodeAndLengthOnlyFromWhatArrivedAndWhatTheyState) {
    std::vector<std::uint8_t> os{0x12, 0x03};
    const auto signature = Utf16("MSFT100");
    os.insert(os.end(), signature.begin(), signature.end());
    os.insert(os.end(), {0x42, 0x00});
    EXPECT_EQ(MsOsVendorCode(os.data(), os.size()), 0x42);
    EXPECT_EQ(MsOsVendorCode(os.data(), 16), std::nullopt);  // the code did not arrive
    os[0] = 16;                                              // nor is it in the descriptor
    EXPECT_EQ(MsOsVendorCode(os.data(), os.size()), std::nullopt);

    const auto header = Descriptor({});
    EXPECT_EQ(MsOsPropertiesLength(header.data(), header.size(), 4096), 10u);
    const std::uint8_t huge[10] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x05, 0x00, 0x01, 0x00};
    EXPECT_EQ(MsOsPropertiesLength(huge, sizeof huge, 4096), 4096u);
    EXPECT_EQ(MsOsPropertiesLength(huge, 9, 4096), 0u);
}

TEST(SameInterfaceClass, IgnoresCaseAndBraces) {
    EXPECT_TRUE(SameInterfaceClass("f8232e5f-6961-4033-ab35-1120751f859e", kGuid1));
    EXPECT_TRUE(SameInterfaceClass("{F8232E5F-6961-4033-AB35-1120751F859E}", kGuid1));
    EXPECT_FALSE(SameInterfaceClass(kGuid2, kGuid1));
    EXPECT_FALSE(SameInterfaceClass("", ""));
}

}  // namespace
