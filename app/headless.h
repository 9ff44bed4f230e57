#pragma once

// The two programs that run a headless update: the window's executable when
// given --headless, and quorvexupdate-cli, which links no GUI library. They
// differ only in the name they give themselves in help, version and errors.
enum class HeadlessProgram { kWindow, kCli };

// --help or --version anywhere on the command line, with or without
// --headless: prints the text and returns true. Needs no application object,
// so neither a display nor a port is touched.
bool PrintHelpOrVersion(int argc, char** argv, HeadlessProgram program);

// Runs one update without a window: connect, identify, Update, and report
// every message-list line on standard output. Returns the exit status.
int RunHeadless(int argc, char** argv, HeadlessProgram program);
