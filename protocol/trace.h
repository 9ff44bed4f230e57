#pragma once

#include <QLoggingCategory>

// Diagnostic trace for developers, off by default; switch it on with
// QT_LOGGING_RULES="quorvex.trace.debug=true". Never shown to the operator.
Q_DECLARE_LOGGING_CATEGORY(lcTrace)
