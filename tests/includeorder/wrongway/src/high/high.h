#pragma once

#include "low/low.h"
#include "middle/middle.h"
