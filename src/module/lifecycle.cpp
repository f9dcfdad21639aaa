#include "module/tessarine.h"

Tessarine::~Tessarine() {
    TraceParts("Tessarine::~Tessarine()");
    ReleaseModelState();
    // The fields then go in reverse declaration order, core last, after every
    // runtime object made from it.
}

void Tessarine::ReleaseModel() { ReleaseModelState(); }

void Tessarine::ReleaseModelState() {
    TraceParts("Tessarine::ReleaseModel()");
    infer_request.reset();
    host_inputs.Clear();
    host_outputs.Clear();
    passed_through_outputs.clear();
    compiled_model.reset();
    built_model.reset();
    model.reset();
    weights.reset();
    // core stays: it is made once per object. The recorded names and shapes
    // stay too, so the host can still ask for them after a release.
    model_string.clear();
    last_error.clear();
    model_data = nullptr;
    model_size = 0;
    current_gpu_index = -1;
    input_width = -1;
    input_height = -1;
}

std::string Tessarine::GetLastErrorMessage() { return last_error; }
