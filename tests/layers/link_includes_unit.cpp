// Planted: the link layer including a header of the unit layer above it. Must not compile.
#include "unit/unit.h"

int plantedUpwardInclude() { return 0; }
