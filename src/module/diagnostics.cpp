#include "module/diagnostics.h"

#include <atomic>
#include <cstdio>


namespace {
std::atomic<ConsoleSink> console_sink{nullptr};

// The bytes printf(format, argument) writes: stops at the argument's first
// NUL, as printf does.
std::string Formatted(const char* format, const char* argument) {
    const int length = std::snprintf(nullptr, 0, format, argument);
    if (length <= 0) return {};
    std::string line(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, argument);
    line.pop_back();
    return line;
}
}  // namespace

void SetConsoleSink(ConsoleSink sink) { console_sink.store(sink, std::memory_order_relaxed); }

void ConsoleLine(const char* format) {
    if (const ConsoleSink sink = console_sink.load(std::memory_order_relaxed)) return sink(format);
    std::printf("%s", format);
    std::fflush(stdout);  // the host may be about to crash or exit; keep the line
}

void ConsoleLine(const char* format, const std::string& argument) {
    if (const ConsoleSink sink = console_sink.load(std::memory_order_relaxed))
        return sink(Formatted(format, argument.c_str()));
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
