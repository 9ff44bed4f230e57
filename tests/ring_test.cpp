#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "ringbuffer.h"

namespace {

struct Ring {
    RingBuffer ring;
    std::array<std::uint8_t, 16> store{};
    Ring() { EXPECT_TRUE(RingInit(&ring, 16, store.data())); }
    void Skew(std::uint32_t counter) {
        ring.in = counter;
        ring.out = counter;
    }
};

std::vector<std::uint8_t> Seq(std::size_t n, std::uint8_t first = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

}  // namespace

TEST(Ring, InitRejectsSizesThatAreNotPowersOfTwo) {
    std::array<std::uint8_t, 12> store{};
    RingBuffer r;
    EXPECT_FALSE(RingInit(&r, 12, store.data()));
    EXPECT_EQ(RingSpace(&r), 0u);
    std::uint8_t b = 1;
    EXPECT_EQ(RingPut(&r, &b, 1), 0u);
    EXPECT_EQ(RingGet(&r, &b, 1), 0u);
    EXPECT_FALSE(RingInit(&r, 0, store.data()));
    EXPECT_TRUE(RingInit(&r, 8, store.data()));
    EXPECT_EQ(RingSpace(&r), 8u);
}

TEST(Ring, PutOfExactlyTheFreeSpaceFillsItAndOneMoreIsRefused) {
    Ring r;
    auto data = Seq(16);
    EXPECT_EQ(RingPut(&r.ring, data.data(), 16), 16u);
    EXPECT_EQ(RingUsed(&r.ring), 16u);
    EXPECT_EQ(RingSpace(&r.ring), 0u);
    std::uint8_t extra = 99;
    EXPECT_EQ(RingPut(&r.ring, &extra, 1), 0u);
    EXPECT_EQ(RingUsed(&r.ring), 16u);
    std::vector<std::uint8_t> got(32);
    EXPECT_EQ(RingGet(&r.ring, got.data(), 32), 16u);
    got.resize(16);
    EXPECT_EQ(got, data);
}

TEST(Ring, ZeroPutAndEmptyGetChangeNothing) {
    Ring r;
    std::uint8_t b = 7;
    EXPECT_EQ(RingPut(&r.ring, &b, 0), 0u);
    EXPECT_EQ(RingGet(&r.ring, &b, 4), 0u);
    EXPECT_EQ(RingUsed(&r.ring), 0u);
    EXPECT_EQ(b, 7);
}

TEST(Ring, SplitCopiesKeepOrderAcrossTheEndAndAcrossCounterWrap) {
    // Counters placed so that the copies split at the storage end, and then
    // so that 'in' passes 2^32 mid-put.
    for (std::uint32_t start : {10u, 0xFFFFFFF6u, 0xFFFFFFFFu}) {
        Ring r;
        r.Skew(start);
        auto data = Seq(12, 100);
        ASSERT_EQ(RingPut(&r.ring, data.data(), 12), 12u) << start;
        EXPECT_EQ(RingUsed(&r.ring), 12u);
        EXPECT_EQ(RingSpace(&r.ring), 4u);
        std::vector<std::uint8_t> got(5);
        ASSERT_EQ(RingGet(&r.ring, got.data(), 5), 5u);
        std::vector<std::uint8_t> rest(20);
        ASSERT_EQ(RingGet(&r.ring, rest.data(), 20), 7u) << "a get for more returns what is held";
        got.insert(got.end(), rest.begin(), rest.begin() + 7);
        EXPECT_EQ(got, data) << start;
        EXPECT_EQ(RingUsed(&r.ring), 0u);
    }
}

// One producer, one consumer, uneven chunks through the 4096-byte size the
// USB link uses; run under TSan in CI.
TEST(Ring, TwoThreadsMove64MiBIntact) {
    constexpr std::size_t kTotal = 64u << 20;
    std::vector<std::uint8_t> store(4096);
    RingBuffer ring;
    ASSERT_TRUE(RingInit(&ring, 4096, store.data()));

    auto byteAt = [](std::size_t i) { return static_cast<std::uint8_t>((i * 2654435761u) >> 13); };
    std::thread producer([&] {
        std::mt19937 rng(1);
        std::vector<std::uint8_t> chunk(1500);
        std::size_t sent = 0;
        while (sent < kTotal) {
            std::size_t n = std::min<std::size_t>(1 + rng() % 1500, kTotal - sent);
            for (std::size_t i = 0; i < n; ++i) chunk[i] = byteAt(sent + i);
            while (RingPut(&ring, chunk.data(), static_cast<std::uint32_t>(n)) == 0)
                std::this_thread::yield();
            sent += n;
        }
    });
    std::mt19937 rng(2);
    std::vector<std::uint8_t> buf(3000);
    std::size_t received = 0, mismatches = 0;
    while (received < kTotal) {
        std::uint32_t got = RingGet(&ring, buf.data(), 1 + rng() % 3000);
        if (got == 0) {
            std::this_thread::yield();
            continue;
        }
        for (std::uint32_t i = 0; i < got; ++i) mismatches += buf[i] != byteAt(received + i);
        received += got;
    }
    producer.join();
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(RingUsed(&ring), 0u);
}
