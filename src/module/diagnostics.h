// Console lines, trace texts and durations.
//
// Console lines are what a user of the host sees: one printf each, no newline,
// every format starting with the one prefix of console_formats.h. Trace texts describe what
// the object does; they all end in one sink, which emits nothing. So that the
// hot path pays nothing for them, a text is only built while a trace observer
// is installed, which no host can do (the tests do, to watch the object).
#ifndef TESSARINE_DIAGNOSTICS_H
#define TESSARINE_DIAGNOSTICS_H

#include <chrono>
#include <cstdint>
#include <string>
#include <type_traits>

using TraceObserver = void (*)(const std::string& text);
// Where trace texts go; null, as in every host, drops them unbuilt.
void SetTraceObserver(TraceObserver observer);
bool TraceObserved();
void EmitTrace(const std::string& text);

namespace diagnostics_detail {
inline void Append(std::string& out, const std::string& part) { out += part; }
inline void Append(std::string& out, const char* part) { out += part; }
template <class Number, class = std::enable_if_t<std::is_integral_v<Number>>>
void Append(std::string& out, Number value) {
    out += std::to_string(value);
}
}  // namespace diagnostics_detail

// Plain concatenation; integers in decimal as std::to_string writes them.
template <class... Parts>
std::string JoinTraceText(const Parts&... parts) {
    std::string text;
    (diagnostics_detail::Append(text, parts), ...);
    return text;
}

template <class... Parts>
void TraceParts(const Parts&... parts) {
    if (TraceObserved()) EmitTrace(JoinTraceText(parts...));
}

// One console line: a format with at most one %s.
void ConsoleLine(const char* format);
void ConsoleLine(const char* format, const std::string& argument);

// Where console lines go instead of standard output, each as the exact bytes
// printf would have written; null (every host) prints them. The isolated
// module's worker installs one and ships the lines to the host, whose
// standard output is not the worker's.
using ConsoleSink = void (*)(const std::string& line);
void SetConsoleSink(ConsoleSink sink);

using SteadyTime = std::chrono::steady_clock::time_point;
inline SteadyTime SteadyNow() { return std::chrono::steady_clock::now(); }
// Whole milliseconds since start, truncated.
inline int64_t MillisecondsSince(SteadyTime start) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyNow() - start).count() / 1000000;
}

#endif
