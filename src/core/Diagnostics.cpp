#include "core/Diagnostics.h"

// Defined together so that they are constructed in this order, the tracer
// first, before any other object of the program can use them.
CFunctionTracer g_FunctionTracer;
CError g_Error;
CProgress g_Progress;
CLog g_Log;
