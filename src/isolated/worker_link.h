// The host's side of one worker: started on first need, one request and one
// reply at a time, and ended (and described) when it dies, hangs past the
// host's limit or breaks the protocol. Owns the shared memory the tensors
// cross in, which outlives any one worker.
#ifndef TESSARINE_ISOLATED_WORKER_LINK_H
#define TESSARINE_ISOLATED_WORKER_LINK_H

#include <cstdint>
#include <string>

#include "isolated/platform.h"
#include "isolated/wire.h"

// The environment variable a host sets to limit each call, in milliseconds.
constexpr const char* kWorkerTimeoutVariable = "TESSARINE_WORKER_TIMEOUT_MS";

class WorkerLink {
public:
    explicit WorkerLink(std::string worker_path) : worker_path_(std::move(worker_path)) {}

    // The shared memory, grown to at least `size` bytes (never shrunk); null
    // with `failure` set when it cannot be.
    unsigned char* Memory(uint64_t size, std::string& failure);
    unsigned char* MemoryData() const { return memory_.data(); }
    uint64_t MemorySize() const { return memory_.size(); }

    // Sends one request (starting the worker first if none runs) and reads
    // its reply. Returns the empty text on success, else what went wrong, the
    // worker then ended; `reply` is the reply's payload.
    std::string Call(wire::Kind kind, const std::string& payload, std::string& reply);
    // Ends the worker, if one runs, without a word.
    void Stop();
    bool Running() const { return process_.Running(); }

private:
    std::string Start(int64_t deadline_ms);
    // Reads one reply of `kind` within the deadline; the empty text on success.
    std::string Receive(wire::Kind kind, int64_t deadline_ms, std::string& payload);
    std::string Failure(const std::string& what);

    std::string worker_path_;
    isolation::SharedMemory memory_;
    isolation::Channel channel_;
    isolation::WorkerProcess process_;
    int64_t limit_ms_ = -1;
};

#endif
