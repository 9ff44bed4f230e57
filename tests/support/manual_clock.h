#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "engineclock.h"

// An engine clock the test moves: minutes of protocol time pass at once.
class ManualClock : public EngineClock {
public:
    std::int64_t NowMs() const override { return m_now; }
    void WakeAt(std::int64_t dueMs, std::function<void()> fn) override {
        m_wake.emplace(dueMs, std::move(fn));
    }
    void Cancel() override { m_wake.reset(); }

    // Runs every wake-up that falls due on the way, in time order.
    void Advance(std::int64_t ms) {
        const std::int64_t target = m_now + ms;
        while (m_wake && m_wake->first <= target) {
            m_now = std::max(m_now, m_wake->first);
            auto fn = std::move(m_wake->second);
            m_wake.reset();
            fn();
        }
        m_now = target;
    }

private:
    std::int64_t m_now = 1000;
    std::optional<std::pair<std::int64_t, std::function<void()>>> m_wake;
};
