#include "ringbuffer.h"

#include <algorithm>
#include <cstring>

bool RingInit(RingBuffer* ring, std::uint32_t size, std::uint8_t* storage) {
    const bool powerOfTwo = size != 0 && (size & (size - 1)) == 0;
    ring->in.store(0, std::memory_order_relaxed);
    ring->out.store(0, std::memory_order_relaxed);
    // An unusable ring has no storage and capacity 0: mask + 1 wraps to 0.
    ring->mask = powerOfTwo ? size - 1 : 0xFFFFFFFFu;
    ring->data = powerOfTwo ? storage : nullptr;
    return powerOfTwo;
}

std::uint32_t RingUsed(const RingBuffer* ring) {
    return ring->in.load(std::memory_order_acquire) - ring->out.load(std::memory_order_acquire);
}

std::uint32_t RingSpace(const RingBuffer* ring) {
    return ring->mask + 1 - RingUsed(ring);
}

std::uint32_t RingPut(RingBuffer* ring, const std::uint8_t* src, std::uint32_t count) {
    const std::uint32_t in = ring->in.load(std::memory_order_relaxed);
    const std::uint32_t out = ring->out.load(std::memory_order_acquire);
    const std::uint32_t space = ring->mask + 1 - (in - out);
    if (count == 0 || count > space) return 0;
    const std::uint32_t start = in & ring->mask;
    const std::uint32_t first = std::min(count, ring->mask + 1 - start);
    std::memcpy(ring->data + start, src, first);
    std::memcpy(ring->data, src + first, count - first);
    ring->in.store(in + count, std::memory_order_release);
    return count;
}

std::uint32_t RingGet(RingBuffer* ring, std::uint8_t* dst, std::uint32_t count) {
    const std::uint32_t out = ring->out.load(std::memory_order_relaxed);
    const std::uint32_t in = ring->in.load(std::memory_order_acquire);
    const std::uint32_t n = std::min(count, in - out);
    if (n == 0) return 0;
    const std::uint32_t start = out & ring->mask;
    const std::uint32_t first = std::min(n, ring->mask + 1 - start);
    std::memcpy(dst, ring->data + start, first);
    std::memcpy(dst + first, ring->data, n - first);
    ring->out.store(out + n, std::memory_order_release);
    return n;
}
