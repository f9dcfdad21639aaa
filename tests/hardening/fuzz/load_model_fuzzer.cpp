// LoadModel on arbitrary bytes, on the CPU, through one long-lived object as
// a host keeps it. Whatever the bytes, the load must return, and its result
// must agree with GetLastErrorMessage; a loaded model's shapes must be
// readable; and the load must open no file in the current directory, which
// holds the files that models from memory were seen to reach (an ONNX
// tensor's external data, an IR's ".bin"). Seeded with the test models,
// among them models that name those files.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "image_ai_inference.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// A directory of its own with those files, watched for opens; the loads run
// in it, and the fuzzer's own file work (corpus, artifacts) outside it.
class WatchedDirectory {
public:
    WatchedDirectory() {
        char pattern[] = "/tmp/tessarine_load_fuzzer_XXXXXX";
        Require(mkdtemp(pattern) && getcwd(home_, sizeof home_), "no directory to load in");
        path_ = pattern;
        for (const char* name : kFiles) std::ofstream(path_ + "/" + name) << std::string(64, 'S');
        watch_ = inotify_init1(IN_NONBLOCK);
        Require(watch_ >= 0 && inotify_add_watch(watch_, path_.c_str(), IN_OPEN) >= 0, "no watch on the directory");
    }
    ~WatchedDirectory() {
        for (const char* name : kFiles) unlink((path_ + "/" + name).c_str());
        rmdir(path_.c_str());
    }
    void Enter() const { Require(chdir(path_.c_str()) == 0, "cannot enter the directory"); }
    void Leave() const { Require(chdir(home_) == 0, "cannot leave the directory"); }
    bool Opened() const {
        char events[4096];
        bool any = false;
        while (read(watch_, events, sizeof events) > 0) any = true;
        return any;
    }

private:
    static constexpr const char* kFiles[] = {".bin", "tessarine_secret.bin"};
    char home_[4096] = {};
    std::string path_;
    int watch_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static IImageAIInference* const object = InitModule();
    static WatchedDirectory watched;
    // A load from the address and size of the last one reuses the copy taken
    // then; the release makes every input be read for itself.
    object->ReleaseModel();
    watched.Enter();
    const bool loaded = object->LoadModel(data, size, -1, 3);
    watched.Leave();
    Require(!watched.Opened(), "a load opened a file in the current directory");
    Require(loaded == object->GetLastErrorMessage().empty(), "LoadModel's result disagrees with its error text");
    if (!loaded) return 0;
    for (uint32_t index = 0; index < 64; ++index) {
        int64_t d[5] = {};
        const uint32_t input_rank = object->GetInputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4]);
        const uint32_t output_rank = object->GetOutputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4]);
        if (input_rank == 0 && output_rank == 0) break;
    }
    return 0;
}
