#pragma once

#include <QLoggingCategory>

// The host's low-level diagnostics ("dux.lowlevel"); its debug output is off unless enabled by rules.
const QLoggingCategory& debLowLevel();
