// The drawer interface lives with the graphics it draws through; this name is kept for hosts that
// include it from here.
#pragma once

#include "graphics/WorldPrimitiveDrawer.h"
