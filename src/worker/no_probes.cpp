// The shipped worker answers no probes: a probe ends it like any request it
// does not know.
#include "worker/worker_state.h"

void ServeProbe(WorkerState&, wire::Reader&, wire::Writer&) { throw wire::Broken("no probes in this build"); }
