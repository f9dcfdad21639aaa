#include "heap_counter.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <atomic>

// glibc's own entry points: the definitions below count, then hand over, so
// the heap stays glibc's and a block may be freed by either side.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<uint64_t> allocation_count{0};
std::atomic<uint64_t> allocated_bytes{0};

void Note(size_t size) {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    allocated_bytes.fetch_add(size, std::memory_order_relaxed);
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
    Note(size);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Note(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    Note(size);
    return __libc_realloc(block, size);
}

void free(void* block) { __libc_free(block); }

void* memalign(size_t alignment, size_t size) {
    Note(size);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Note(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    Note(size);
    void* p = __libc_memalign(alignment, size);
    if (!p && size) return ENOMEM;
    *block = p;
    return 0;
}

void* valloc(size_t size) {
    Note(size);
    return __libc_valloc(size);
}

void* pvalloc(size_t size) {
    Note(size);
    return __libc_pvalloc(size);
}
}

HeapCount HeapCountNow() {
    return {allocation_count.load(std::memory_order_relaxed), allocated_bytes.load(std::memory_order_relaxed)};
}

int64_t ResidentKib() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmRSS:", 6) == 0) std::sscanf(line + 6, "%lld", &kib);
    std::fclose(status);
    return kib;
}
