// The console lines the host side of the isolated module prints itself:
// the worker's, byte for byte, and its own when the worker failed a call.
#ifndef TESSARINE_ISOLATED_CONSOLE_LINES_H
#define TESSARINE_ISOLATED_CONSOLE_LINES_H

#include <cstdio>
#include <string>

#include "module/console_formats.h"

// The families a failed link reports in: the load's and the inference's.
constexpr const char* kLoadFailureLine = console::kLoadStdError;
constexpr const char* kInferenceFailureLine = console::kInferenceError;

// Flushed at once, as the module flushes its own: the host may be about to exit.
inline void PrintConsoleText(const std::string& line) {
    std::printf("%s", line.c_str());
    std::fflush(stdout);
}

inline void PrintConsoleLine(const char* format, const std::string& argument) {
    std::printf(format, argument.c_str());
    std::fflush(stdout);
}

#endif
