// The worker process of the isolated module: one Tessarine, served request
// by request from the host side of its object (src/isolated). It trusts the
// host; it is the part the host does not trust.
#ifndef TESSARINE_WORKER_STATE_H
#define TESSARINE_WORKER_STATE_H

#include <memory>
#include <string>
#include <vector>

#include "isolated/platform.h"
#include "isolated/wire.h"
#include "module/tessarine.h"

struct WorkerState {
    Tessarine object;
    isolation::SharedMemory memory;
    isolation::Confinement confinement;
    // The module compares model buffers by address: one copy of the host's
    // model, kept at one address for as long as the host's buffer is the same.
    std::unique_ptr<char[]> model_copy;
    uint64_t model_copy_size = 0;
    bool loaded = false;  // shapes are recorded once a load has run
    // The last tensors call, whose runtime outputs a fetch copies: each
    // record, and where its data lies, found before the memory's view may move.
    std::vector<TensorData> outputs;
    struct Placement {
        uint8_t where;      // wire's data kinds: null, the runtime's memory, an input's region
        uint64_t index;     // the input's, for an input's region
        uint64_t offset;    // into that region
        uint64_t bytes;
    };
    std::vector<Placement> placements;
    std::vector<std::pair<uint64_t, uint64_t>> input_regions;  // offset, bytes
    uint64_t request_end = 0;
};

// The console lines the current request printed, in order.
std::vector<std::string>& CallLines();

// Serves one request; writes the whole reply payload.
void Serve(WorkerState& state, wire::Kind kind, wire::Reader& request, wire::Writer& reply);
// A test build of the worker answers probes of its own confinement
// (worker_probes.cpp); the shipped one breaks the protocol instead.
void ServeProbe(WorkerState& state, wire::Reader& request, wire::Writer& reply);

#endif
