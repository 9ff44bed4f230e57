#include "trace.h"

Q_LOGGING_CATEGORY(lcTrace, "quorvex.trace", QtWarningMsg)
