#include "geom/formats/formatslog.h"

Q_LOGGING_CATEGORY(lcStl, "quarn.geom.stl")
Q_LOGGING_CATEGORY(lcPly, "quarn.geom.ply")
Q_LOGGING_CATEGORY(lcQrn, "quarn.geom.qrn")
