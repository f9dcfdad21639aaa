// Heap allocations per inference call at two tensor sizes a hundred times
// apart, and resident memory after 100 calls against after 10,000.
#ifndef TESSARINE_BENCH_MEMORY_BENCH_H
#define TESSARINE_BENCH_MEMORY_BENCH_H

#include <string>

#include "results.h"

struct MemoryCase {
    std::string model;  // with dynamic height and width
    uint32_t small_size;
    uint32_t large_size;  // ten times the side: a hundred times the elements
    bool map_output;
    uint64_t map_channels;
};

void RunHeapCase(const std::string& model_dir, const MemoryCase& c, Results& results);
void RunResidentCase(const std::string& model_dir, const MemoryCase& c, Results& results);

#endif
