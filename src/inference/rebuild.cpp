#include "inference/rebuild.h"

bool RebuildNeeded(const Tessarine& object, int32_t width, int32_t height) {
    return (object.current_gpu_index == -2 || object.current_gpu_index == -3) &&
           (object.input_width != width || object.input_height != height);
}

// The release the failed load began with dropped the request and set
// input_width and input_height to -1, so the next call tries again.
bool RejectFailedRebuild(Tessarine& object) {
    const std::string cause = object.last_error.empty() ? std::string(".") : ": " + object.last_error;
    return RejectCall(object, "the model could not be rebuilt for the new input size" + cause);
}
