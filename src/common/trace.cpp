#include "common/trace.h"

bool DebugTrace = false;
