#include "geom/mesh/meshlog.h"

Q_LOGGING_CATEGORY(lcMesh, "quarn.geom.mesh")
