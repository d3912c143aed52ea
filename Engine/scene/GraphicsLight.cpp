// GraphicsLight is a plain value; its accessors are inline.
#include "scene/GraphicsLight.h"
