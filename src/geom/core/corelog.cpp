#include "geom/core/corelog.h"

Q_LOGGING_CATEGORY(lcGeomCore, "quarn.geom.core")
