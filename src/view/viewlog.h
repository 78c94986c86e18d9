#pragma once

#include <QLoggingCategory>

// The diagnostics of the 3D view. Warnings are on by default; QT_LOGGING_RULES (for example
// "quarn.*=false") switches them.
Q_DECLARE_LOGGING_CATEGORY(lcView)
