#pragma once

// A started simulator with a client on its device end, and the few steps the
// loader tests repeat: restart into the loader, poll, send an image.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "receiversim.h"
#include "sim_client.h"

namespace simtest {

inline constexpr std::chrono::seconds kGuard{10};

struct Rig {
    explicit Rig(qsim::SimOptions o = {}) : sim(std::move(o)) {
        std::string error;
        if (!sim.Start(&error)) throw std::runtime_error(error);
        client = std::make_unique<Client>(sim.DevicePath());
    }
    bool Wait(const std::function<bool(const qsim::SimStats&)>& pred) {
        return sim.WaitFor(pred, kGuard);
    }
    // Reset text at 115200, then wait for the loader and move to its speed.
    void EnterLoader() {
        const int starts = sim.Stats().loaderStarts;
        client->SetBaud(115200);
        client->Write("\r\n\r\nreset\r\n");
        if (!Wait([starts](const qsim::SimStats& s) {
                return s.loaderStarts > starts && s.mode == qsim::SimMode::Loader;
            })) {
            throw std::runtime_error("the loader did not start");
        }
        client->SetBaud(sim.Stats().listenBaud);
    }
    // One "SS" poll; returns the joined identification payload.
    Bytes Identify() {
        client->SendFrame("SS", 24, {49, 54});
        Bytes joined;
        for (;;) {
            const Frame f = client->ReadFrame();
            if (f.type != "SS") throw std::runtime_error("expected an SS answer, got " + f.type);
            joined.insert(joined.end(), f.payload.begin(), f.payload.end());
            if (f.payload.size() < 55) return joined;
        }
    }

    qsim::ReceiverSim sim;
    std::unique_ptr<Client> client;
};

inline qsim::SimOptions FastOptions() {
    qsim::SimOptions o;
    o.loaderStartDelayMs = 0;
    o.completionDelayMs = 0;
    return o;
}

inline Bytes TestImage(std::size_t size, unsigned seed) {
    Bytes image(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : image) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return image;
}

// The 128 bytes of block `offset`, the last one padded with 0xFF.
inline Bytes BlockAt(const Bytes& image, std::size_t offset) {
    Bytes block(128, 0xFF);
    for (std::size_t i = 0; i < 128 && offset + i < image.size(); ++i) block[i] = image[offset + i];
    return block;
}

// Sends every block of `image` with `kind`, expects a positive ack for each,
// and returns the chained checksum.
inline std::uint32_t SendImage(Client& c, const Bytes& image, std::uint8_t kind, std::uint32_t crc,
                               unsigned firstB2 = 0) {
    for (std::size_t off = 0; off < image.size(); off += 128) {
        const Bytes block = BlockAt(image, off);
        const unsigned b2 = off == 0 ? firstB2 : (off >> 8) & 0xFF;
        c.SendFrame("SX", kind, BlockPayload(static_cast<unsigned>(off), block.data(), b2));
        const Frame ack = c.ReadFrame();
        EXPECT_EQ(ack.type, "SX");
        EXPECT_EQ(ack.payload, Bytes{1}) << "block at " << off;
        crc = ReferenceCrc(block.data(), 128, crc);
    }
    return crc;
}

inline void SendChecksum(Client& c, std::uint32_t crc, unsigned offset) {
    Bytes block(128, 0);
    for (int i = 0; i < 4; ++i)
        block[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    c.SendFrame("SX", 17, BlockPayload(offset, block.data(), (offset >> 8) & 0xFF));
}

}  // namespace simtest
