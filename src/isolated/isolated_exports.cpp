// The isolated module's two exports: the same names and contract as the
// module's, with objects whose work runs in worker processes.
#include "isolated/isolated_tessarine.h"
#include "isolated/platform.h"

extern "C" {

IMAGE_AI_EXPORT IImageAIInference* InitModule() {
    return new IsolatedTessarine(isolation::BesideThisBinary("tessarine_worker"));
}

IMAGE_AI_EXPORT void ReleaseModule(IImageAIInference* object) { delete object; }
}
