#pragma once

#include <QLoggingCategory>

// The diagnostics of the gzip and zlib devices. Warnings and errors are on by
// default; QT_LOGGING_RULES (for example "quarn.*=false") switches them.
Q_DECLARE_LOGGING_CATEGORY(lcIo)
