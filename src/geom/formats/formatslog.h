#pragma once

#include <QLoggingCategory>

// The diagnostics of the file formats, one category per format. Warnings and errors are on by
// default; QT_LOGGING_RULES (for example "quarn.*=false") switches them.
Q_DECLARE_LOGGING_CATEGORY(lcStl)
Q_DECLARE_LOGGING_CATEGORY(lcPly)
Q_DECLARE_LOGGING_CATEGORY(lcQrn)
