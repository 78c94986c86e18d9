#include "view/viewlog.h"

Q_LOGGING_CATEGORY(lcView, "quarn.view")
