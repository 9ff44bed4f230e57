#pragma once

// The receiver relies on these pauses (after a speed change, after the reset
// text, before a poll or a first block), so they block the UI thread as the
// protocol has always done. Every such wait goes through here.
void ProtocolWait(int milliseconds);
