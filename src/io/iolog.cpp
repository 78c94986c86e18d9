#include "io/iolog.h"

Q_LOGGING_CATEGORY(lcIo, "quarn.io")
