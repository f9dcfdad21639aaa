// The one load pipeline. LoadModel, the map form's rebuild and the tensors
// form's rebuild all run it; they differ only in how the model is reshaped
// after it is read.
#ifndef TESSARINE_LOAD_PIPELINE_H
#define TESSARINE_LOAD_PIPELINE_H

#include <functional>

#include "module/tessarine.h"

struct LoadCall {
    const void* model_data;
    uint64_t model_size;
    int32_t device_index;
    bool reshape;  // drops the loaded model first, and reshapes what is read
    std::function<void(ov::Model&)> reshape_model;
    ov::element::Type element_type;  // the precision hint, where the device takes one
    const char* entry_text;          // "Tessarine::innerLoadModel(0)", ...
    const char* done_text;
};

bool RunLoadPipeline(Tessarine& object, const LoadCall& call);

#endif
