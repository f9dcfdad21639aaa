// LoadModel on arbitrary bytes, on the CPU, through one long-lived object as
// a host keeps it. Whatever the bytes, the load must return, and its result
// must agree with GetLastErrorMessage; a loaded model's shapes must be
// readable. Seeded with the test models.
#include <cstdio>
#include <cstdlib>

#include "image_ai_inference.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static IImageAIInference* const object = InitModule();
    // A load from the address and size of the last one reuses the copy taken
    // then; the release makes every input be read for itself.
    object->ReleaseModel();
    const bool loaded = object->LoadModel(data, size, -1, 3);
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
