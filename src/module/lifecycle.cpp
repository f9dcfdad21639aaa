#include "module/diagnostics.h"
#include "module/tessarine.h"

Tessarine::~Tessarine() {
    TraceParts("Tessarine::~Tessarine()");
    // This class's own release, not whatever the table holds at this point.
    Tessarine::ReleaseModel();
    // The fields then go in reverse declaration order, core last, after every
    // runtime object made from it.
}

void Tessarine::ReleaseModel() {
    TraceParts("Tessarine::ReleaseModel()");
    infer_request.reset();
    request_ports.Clear();
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
