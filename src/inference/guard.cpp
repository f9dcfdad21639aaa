#include "inference/guard.h"

bool ReportInferenceFailure(Tessarine& object, const char* format, const std::string& text) {
    object.last_error = text;
    TraceParts(object.last_error);
    ConsoleLine(format, object.last_error);
    return false;
}

bool RejectCall(Tessarine& object, const std::string& message) {
    return ReportInferenceFailure(object, console::kInferenceError, message);
}
