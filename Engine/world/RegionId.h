// The region id is a plain value that files and packets carry; it lives in data, below the
// network sessions that send it. This name is kept for hosts that include it from here.
#pragma once

#include "data/RegionId.h"
