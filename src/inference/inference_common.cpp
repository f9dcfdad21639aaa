#include "inference/inference_common.h"

bool Tessarine::ReportInferenceError(const char* format, const char* what) {
    last_error = what;
    TraceParts(last_error);
    ConsoleLine(format, last_error);
    return false;
}

bool Tessarine::RejectRequest(const std::string& message) {
    last_error = message;
    TraceParts(last_error);
    ConsoleLine("[OpenVINOInstance]DoInference error: %s", last_error);
    return false;
}

// Only the MULTI choices compile for one fixed size; every other device takes
// the size it is given.
bool Tessarine::RebuildNeeded(int32_t width, int32_t height) const {
    return (current_gpu_index == -2 || current_gpu_index == -3) && (input_width != width || input_height != height);
}

// The failed load has printed its own line; the release it began with dropped
// the request and set input_width and input_height to -1, so the next call
// tries the rebuild again.
bool Tessarine::RejectFailedRebuild() {
    const std::string cause = last_error.empty() ? std::string(".") : ": " + last_error;
    return RejectRequest("the model could not be rebuilt for the new input size" + cause);
}
