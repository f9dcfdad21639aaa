// Linked into every sanitized executable. The sanitizer runtimes ask for the
// options below before main; environment variables (ASAN_OPTIONS,
// LSAN_OPTIONS, UBSAN_OPTIONS) are applied on top of them.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

// Each runtime asks a function named for it.
#define TESSARINE_DEFAULT_OPTIONS(runtime, options)                                                       \
    extern "C" __attribute__((used, visibility("default"))) const char* __##runtime##_default_options() { \
        return options;                                                                                   \
    }

// halt_on_error: a finding ends the run, so it cannot pass unnoticed.
// intercept_tls_get_addr=0: LeakSanitizer's stop-the-world tracer reads the
// dynamic TLS blocks it recorded for each thread; among the runtime's threads
// of plugins loaded and unloaded it has read a stale one and crashed ("Tracer
// caught signal 11"), failing a test that had passed, by the layout of the
// moment. Without the interception those blocks are not scanned.
TESSARINE_DEFAULT_OPTIONS(asan, "detect_leaks=1:halt_on_error=1:strict_init_order=1:intercept_tls_get_addr=0")
TESSARINE_DEFAULT_OPTIONS(lsan, "suppressions=" TESSARINE_SUPPRESSIONS_DIR "/lsan.supp:print_suppressions=0")
TESSARINE_DEFAULT_OPTIONS(ubsan, "print_stacktrace=1:halt_on_error=1")

namespace {

// oneTBB opens its topology library (tbbbind) with RTLD_DEEPBIND, which the
// AddressSanitizer runtime refuses, ending the process; this variable makes
// it open the library without that flag. It is read when the CPU plugin first
// starts TBB, long after static initialisation.
[[maybe_unused]] const int tbb_without_deepbind = setenv("TBB_ENABLE_SANITIZERS", "1", 0);

// The runtime loads a frontend library for every model it reads and unloads
// it when the model goes. The frontends' static initialisers allocate
// (protobuf's registries, about 80 bytes for ONNX) and keep the pointers in
// the library's globals; once the library is unmapped LeakSanitizer sees those
// blocks as unreachable, and as their code is gone it cannot name a single
// frame to suppress them by. Opened here with RTLD_NODELETE they stay mapped,
// so those blocks stay reachable and every report that remains has frames.
bool PinRuntimeFrontends() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(TESSARINE_RUNTIME_LIBRARY_DIR, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("libopenvino_", 0) == 0 && name.find("_frontend.so") != std::string::npos)
            dlopen(entry.path().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    }
    return !error;
}

[[maybe_unused]] const bool frontends_pinned = PinRuntimeFrontends();

}  // namespace
