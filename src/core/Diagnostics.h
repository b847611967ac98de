// The process-wide diagnostic services, one instance each for the whole run.
#pragma once

#include "core/Error.h"
#include "core/FunctionTracer.h"
#include "core/Log.h"
#include "core/Progress.h"

extern CFunctionTracer g_FunctionTracer;
extern CError g_Error;
extern CProgress g_Progress;
extern CLog g_Log;
