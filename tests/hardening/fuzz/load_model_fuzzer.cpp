// LoadModel on arbitrary bytes, on the CPU, through one long-lived object as
// a host keeps it. Whatever the bytes, the load must return, its result must
// agree with GetLastErrorMessage, a loaded model's shapes must be readable,
// and the load must open no file in the current directory, which holds the
// files models from memory were seen to reach (an ONNX tensor's external
// data, an IR's ".bin"). Seeded with the test models, among them models that
// name those files.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "image_ai_inference.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// A directory of its own holding those files, watched for opens; only the
// loads run in it, not the fuzzer's own file work (corpus, artifacts).
struct WatchedDirectory {
    char home[4096] = {}, path[64] = "/tmp/tessarine_load_fuzzer_XXXXXX";
    int watch = inotify_init1(IN_NONBLOCK);
    WatchedDirectory() {
        Require(mkdtemp(path) && getcwd(home, sizeof home), "no directory to load in");
        for (const char* name : {"/.bin", "/tessarine_secret.bin"}) std::ofstream(path + std::string(name)) << "S";
        Require(watch >= 0 && inotify_add_watch(watch, path, IN_OPEN) >= 0, "no watch on the directory");
    }
    ~WatchedDirectory() { std::filesystem::remove_all(path); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static IImageAIInference* const object = InitModule();
    static const WatchedDirectory watched;
    // A load from the address and size of the last one would reuse the copy
    // taken then; the release makes every input be read for itself.
    object->ReleaseModel();
    Require(chdir(watched.path) == 0, "cannot enter the directory");
    const bool loaded = object->LoadModel(data, size, -1, 3);
    Require(chdir(watched.home) == 0, "cannot leave the directory");
    char events[4096];
    Require(read(watched.watch, events, sizeof events) < 0, "a load opened a file in the current directory");
    Require(loaded == object->GetLastErrorMessage().empty(), "LoadModel's result disagrees with its error text");
    int64_t d[5];
    for (uint32_t index = 0; loaded && index < 64; ++index)
        if (!object->GetInputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4]) &&
            !object->GetOutputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4]))
            break;
    return 0;
}
