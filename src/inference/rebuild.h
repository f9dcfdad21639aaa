// The rebuild of the map and tensors forms. On the MULTI choices (-2 and -3)
// the model is compiled for one input size; a call of another width or height
// loads the model again, reshaped for it, before anything is bound. Every
// other device takes the size it is given.
#ifndef TESSARINE_REBUILD_H
#define TESSARINE_REBUILD_H

#include <cstdint>

#include "inference/guard.h"

bool RebuildNeeded(const Tessarine& object, int32_t width, int32_t height);
// The failed load has printed its own line; this rejects the call itself.
bool RejectFailedRebuild(Tessarine& object);

// width and height are the call's own (the map form's unsigned, the tensors
// form's signed), as the reload trace shows them; the size is compared and
// kept in 32 bits. reload(element_type) runs the form's load and returns its
// result. False when the call has been rejected.
template <class Reload>
bool RebuildIfNeeded(Tessarine& object, int64_t width, int64_t height, Reload&& reload) {
    const auto width32 = static_cast<int32_t>(width), height32 = static_cast<int32_t>(height);
    if (!RebuildNeeded(object, width32, height32)) return true;
    TraceParts("Ready reload model, current_gpu_index: ", object.current_gpu_index, ", new_inputWidth: ", width,
               ", new_inputHeight: ", height);
    if (!reload(Tessarine::PrecisionToElementType(static_cast<int32_t>(object.precision_code))))
        return RejectFailedRebuild(object);
    TraceParts("Tessarine::RebuildModel()");
    object.input_width = width32;
    object.input_height = height32;
    return true;
}

#endif
