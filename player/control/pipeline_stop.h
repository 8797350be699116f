// Stopping the pipeline at the end of a run, within a bounded time.
//
// Setting a pipeline to NULL waits until every streaming thread has left its
// element. A thread stuck in a read that nothing can interrupt (a file on a
// network share whose server went away, a pipe whose writer went quiet)
// would hold an ending run there forever: no final status, no controller
// notification, no exit. The ends of the run therefore request NULL from a
// helper thread and wait for it only so long; the process exits right after
// in any case, which stops everything still running.
#pragma once

#include <gst/gst.h>

// Time an end of the run waits for the pipeline to reach NULL.
inline constexpr unsigned kPipelineStopWaitMs = 1000;

// Requests NULL for `pipeline` and waits at most `wait_ms` for the request
// to return. True when it returned in time. Meant for the one end of the
// run (after claim_end_of_run): it may be called once per process.
bool stop_pipeline_within(GstElement *pipeline, unsigned wait_ms);
