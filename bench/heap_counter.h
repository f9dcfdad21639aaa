// Counts every heap allocation of the process, on every thread: the bench
// binary defines the malloc family, so the module, the runtime and its plugin
// threads all allocate through it (operator new included, which calls malloc).
// A copy of tensor data, in an ov::Tensor, a std::vector or a plugin buffer,
// would show up here as bytes that grow with the tensor.
#ifndef TESSARINE_BENCH_HEAP_COUNTER_H
#define TESSARINE_BENCH_HEAP_COUNTER_H

#include <cstdint>

struct HeapCount {
    uint64_t allocations;
    uint64_t bytes;
};

HeapCount HeapCountNow();

// VmRSS of this process from /proc/self/status, in KiB.
int64_t ResidentKib();

#endif
