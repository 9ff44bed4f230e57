#pragma once

#include <atomic>
#include <cstdint>

// Single-producer, single-consumer byte ring. The counters run free and wrap
// at 2^32; full and empty are told apart by in - out, so every slot is usable.
// The ring does not own its storage.
struct RingBuffer {
    std::atomic<std::uint32_t> in{0};   // written by the producer only
    std::atomic<std::uint32_t> out{0};  // written by the consumer only
    std::uint32_t mask = 0;
    std::uint8_t* data = nullptr;
};

// Returns false, leaving the ring unusable (it holds and accepts nothing), when
// size is 0 or not a power of two: AND mask would not be a position then.
bool RingInit(RingBuffer* ring, std::uint32_t size, std::uint8_t* storage);
std::uint32_t RingUsed(const RingBuffer* ring);
std::uint32_t RingSpace(const RingBuffer* ring);
// All or nothing: returns count, or 0 with the ring unchanged.
std::uint32_t RingPut(RingBuffer* ring, const std::uint8_t* src, std::uint32_t count);
std::uint32_t RingGet(RingBuffer* ring, std::uint8_t* dst, std::uint32_t count);
