// The bench executable replaces the global operator new and delete and
// exports them, so the module, the runtime and the plugins it loads later all
// allocate through these: a copy of tensor data into an ov::Tensor, a
// std::vector or a string would show as bytes that grow with the tensor.
// What is counted is what the calling thread allocates.
// (libstdc++'s array and nothrow forms call these.)
#include <cstddef>
#include <cstdlib>
#include <new>

#include "harness.h"

namespace {

// Per thread: the module's code runs on the calling thread, and the
// runtime's worker threads allocate now and then whoever called.
thread_local uint64_t allocations = 0;
thread_local uint64_t allocated_bytes = 0;

void* Counted(size_t size, size_t alignment) {
    ++allocations;
    allocated_bytes += size;
    void* block = nullptr;
    if (posix_memalign(&block, alignment, size ? size : 1) != 0) throw std::bad_alloc();
    return block;
}

}  // namespace

void* operator new(size_t size) { return Counted(size, alignof(std::max_align_t)); }
void* operator new(size_t size, std::align_val_t alignment) { return Counted(size, static_cast<size_t>(alignment)); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { std::free(block); }

// The runtime allocates a few more times now and then (when a worker thread
// is woken, say), never fewer: the batch with the fewest allocations shows
// what every call costs.
PerCall CountPerCall(const Call& call) {
    constexpr int kBatches = 10, kCalls = 100;
    for (int i = 0; i < 20; ++i) call();  // warm-up
    PerCall fewest{1e300, 1e300};
    for (int batch = 0; batch < kBatches; ++batch) {
        const uint64_t allocations_before = allocations, bytes_before = allocated_bytes;
        for (int i = 0; i < kCalls; ++i) call();
        const PerCall got{double(allocations - allocations_before) / kCalls,
                          double(allocated_bytes - bytes_before) / kCalls};
        if (got.allocations < fewest.allocations) fewest = got;
    }
    return fewest;
}
