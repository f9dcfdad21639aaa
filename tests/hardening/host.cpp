#include "host.h"

#include <malloc.h>

#include <fstream>
#include <stdexcept>

long ResidentKiB() {
    malloc_trim(0);
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    throw std::runtime_error("no VmRSS in /proc/self/status");
}
