// The camera lives with the graphics that project through it; this name is kept for hosts that
// include it from here.
#pragma once

#include "graphics/Camera.h"
