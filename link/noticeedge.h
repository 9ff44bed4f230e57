#pragma once

#include <atomic>

// One data notice per drain of a receive ring. The link thread raises it
// after each put; the owner clears it before each take. Both are
// read-modify-writes on one flag, so they are ordered: either the owner's
// clear comes first and the link thread's raise sees it and notifies again,
// or the raise comes first and the clear reads it, which makes the bytes put
// before it visible to the take that follows. No byte is ever left without
// a notice, and no fence is needed.
class CNoticeEdge {
public:
    // Link thread, after a put: true when the owner must be told.
    bool Raise() { return !m_pending.exchange(true, std::memory_order_acq_rel); }
    // Owner's thread, before a take.
    void Clear() { m_pending.exchange(false, std::memory_order_acq_rel); }
    // Either thread, while the other is stopped.
    void Reset() { m_pending.store(false); }

private:
    std::atomic<bool> m_pending{false};
};
