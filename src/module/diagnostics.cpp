#include "module/diagnostics.h"

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

#ifdef TESSARINE_TRACE_OBSERVER
namespace {
TraceObserver trace_observer = nullptr;
}

void SetTraceObserver(TraceObserver observer) { trace_observer = observer; }

void Tessarine::Trace(std::string text) {
    if (trace_observer) trace_observer(text);
}
#else
void Tessarine::Trace(std::string) {}
#endif
