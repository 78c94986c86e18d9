#pragma once

#include <QLoggingCategory>

// The diagnostics of the mesh and its building. Warnings and errors are on by
// default; QT_LOGGING_RULES (for example "quarn.*=false") switches them.
Q_DECLARE_LOGGING_CATEGORY(lcMesh)
