#pragma once

// Runs one update without a window: connect, identify, Update, and report
// every message-list line on standard output. Returns the exit status.
int RunHeadless(int argc, char** argv);
