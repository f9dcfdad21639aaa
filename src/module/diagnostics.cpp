#include "module/diagnostics.h"

#include <atomic>
#include <cstdio>

#include "module/tessarine.h"

void ConsoleLine(const char* format) {
    std::printf("%s", format);
    std::fflush(stdout);  // the host may be about to crash or exit; keep the line
}

void ConsoleLine(const char* format, const std::string& argument) {
    std::printf(format, argument.c_str());
    std::fflush(stdout);
}

namespace {
// A debug output that is off unless a test switches it on; the module itself
// never writes it.
std::atomic<TraceObserver> trace_observer{nullptr};
}  // namespace

void SetTraceObserver(TraceObserver observer) { trace_observer.store(observer, std::memory_order_relaxed); }

bool TraceObserved() { return trace_observer.load(std::memory_order_relaxed) != nullptr; }

void EmitTrace(const std::string& text) {
    if (const TraceObserver observer = trace_observer.load(std::memory_order_relaxed)) observer(text);
}

void Tessarine::Trace(std::string text) { EmitTrace(text); }
