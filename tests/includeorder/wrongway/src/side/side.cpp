#include "middle/middle.h"
