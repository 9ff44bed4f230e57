#pragma once

// The window's command line, looked at before any application object: the
// few options Qt itself takes (-platform NAME, -style NAME, -geometry WxH+X+Y,
// -display NAME, -reverse), and a display to open the window on. Returns 0
// when the window may open; otherwise says why on standard error and returns
// the exit status (2), rather than leaving Qt to abort without a word about
// the headless uses.
int CheckWindowStart(int argc, char** argv);
