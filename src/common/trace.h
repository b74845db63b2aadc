// The trace switch: on with a fifth argument "/d". The writers and the
// queries then print their skip and lookup-failure messages, and a failed
// connect its diagnostics.
#pragma once

extern bool DebugTrace;
