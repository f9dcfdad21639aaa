#include "isolated/worker_link.h"

#include <cstdlib>

namespace {

constexpr uint64_t kFirstMemorySize = uint64_t{1} << 20;

// The host's limit per call, read at each call so that a host may change it
// between calls; none (negative) unless set to a positive number.
int64_t LimitFromEnvironment() {
    const char* text = std::getenv(kWorkerTimeoutVariable);
    if (!text || !*text) return -1;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return *end == '\0' && value > 0 ? value : -1;
}

}  // namespace

unsigned char* WorkerLink::Memory(uint64_t size, std::string& failure) {
    if (size <= memory_.size() && memory_.data()) return memory_.data();
    uint64_t grown = memory_.size() ? memory_.size() : kFirstMemorySize;
    while (grown < size) grown = grown > (uint64_t{1} << 62) ? size : grown * 2;
    if ((memory_.handle() < 0 && !memory_.Create(failure)) || !memory_.Resize(grown, failure)) {
        failure += ".";
        return nullptr;
    }
    return memory_.data();
}

std::string WorkerLink::Call(wire::Kind kind, const std::string& payload, std::string& reply) {
    limit_ms_ = LimitFromEnvironment();
    const int64_t deadline = limit_ms_ < 0 ? -1 : isolation::MonotonicMilliseconds() + limit_ms_;
    if (!process_.Running())
        if (std::string failure = Start(deadline); !failure.empty()) return failure;
    std::string failure;
    if (!memory_.data() && !Memory(kFirstMemorySize, failure)) return failure;
    wire::Header header;
    header.kind = static_cast<uint32_t>(kind);
    header.memory_size = memory_.size();
    header.payload_size = payload.size();
    // One send: a system call and a wake of the worker per request.
    std::string message(reinterpret_cast<const char*>(&header), sizeof header);
    message += payload;
    if (!channel_.Send(message.data(), message.size())) return Failure("");
    return Receive(kind, deadline, reply);
}

std::string WorkerLink::Start(int64_t deadline_ms) {
    std::string failure;
    if (!Memory(kFirstMemorySize, failure)) return failure;
    if (!process_.Start(worker_path_, memory_, channel_, failure)) return failure + ".";
    std::string ready;
    return Receive(wire::Kind::kReady, deadline_ms, ready);
}

std::string WorkerLink::Receive(wire::Kind kind, int64_t deadline_ms, std::string& payload) {
    wire::Header header;
    isolation::Received received = channel_.Receive(&header, sizeof header, deadline_ms);
    if (received == isolation::Received::kAll) {
        if (header.magic != wire::kMagic || header.kind != static_cast<uint32_t>(kind))
            return Failure("a reply of another kind");
        if (header.payload_size > wire::kMaxPayload) return Failure("a reply larger than any it sends");
        payload.resize(header.payload_size);
        received = channel_.Receive(payload.data(), payload.size(), deadline_ms);
    }
    if (received == isolation::Received::kTimedOut)
        return Failure("timeout");
    if (received == isolation::Received::kEnded) return Failure("");
    return {};
}

// `what` names a broken protocol, "timeout" a call past the limit, and the
// empty text an end the worker chose itself (or a signal chose for it).
std::string WorkerLink::Failure(const std::string& what) {
    channel_.Close();
    const std::string end = process_.End(what.empty() ? 200 : 0);
    if (what == "timeout")
        return "the worker process did not answer within " + std::to_string(limit_ms_) + " ms (" +
               kWorkerTimeoutVariable + ") and was ended.";
    if (!what.empty()) return "the worker process broke the protocol (" + what + ") and was ended.";
    return "the worker process " + end + ".";
}

void WorkerLink::Stop() {
    channel_.Close();
    process_.End();
}
