#pragma once

#include "shellext/platform.h"

// The class identifier of the context-menu extension, {21DCDEDF-8C12-44B2-B9C4-1D078D1B2B48};
// also its identity in the registry. Never change it: registered installations refer to it.
constexpr CLSID CLSID_QuarnContextMenu = {
    0x21DCDEDF, 0x8C12, 0x44B2, {0xB9, 0xC4, 0x1D, 0x07, 0x8D, 0x1B, 0x2B, 0x48}};
