#include "frontend/miditrace.h"

int32 current_trace_samples(void)
{
    // No audio queue reports a play position yet.
    return -1;
}
