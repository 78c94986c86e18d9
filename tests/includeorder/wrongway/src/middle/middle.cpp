#include "middle/middle.h"
#include "high/high.h"
#include <vector>
