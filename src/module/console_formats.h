// Every console line the module prints, and the trace texts that repeat one,
// built from the one prefix that marks the module's lines on the host's
// standard output. A format holds at most one %s; no line ends in a newline.
// The isolated module's host side prints the same families (isolated/).
#ifndef TESSARINE_CONSOLE_FORMATS_H
#define TESSARINE_CONSOLE_FORMATS_H

// A macro so that each format below is one string literal, fixed at compile
// time, whose bytes are the prefix's followed by its own.
#define TESSARINE_CONSOLE_PREFIX "[OpenVINOInstance]"

namespace console {

// Loading: the reshape of a rebuild, and the load steps that yield nothing.
constexpr const char* kNeedReshape = TESSARINE_CONSOLE_PREFIX "Need Reshape model";
constexpr const char* kReshapeDone = TESSARINE_CONSOLE_PREFIX "Reshape model done, duration: ";
constexpr const char* kReadModelTrace = TESSARINE_CONSOLE_PREFIX "Failed to read model, core->read_model";
constexpr const char* kReadModelFailed = TESSARINE_CONSOLE_PREFIX "Failed to read model";
constexpr const char* kBuildFailed = TESSARINE_CONSOLE_PREFIX "Failed to build model, ppp.build()";
constexpr const char* kCompileFailed = TESSARINE_CONSOLE_PREFIX "Failed to compile model, core->compile_model";
constexpr const char* kCreateRequestFailed =
    TESSARINE_CONSOLE_PREFIX "Failed to create infer request, compiled_model->create_infer_request()";

// A failed load, by what was thrown.
constexpr const char* kLoadOvError = TESSARINE_CONSOLE_PREFIX "Load model ov::Exception error: %s";
constexpr const char* kLoadStdError = TESSARINE_CONSOLE_PREFIX "Load model std::exception error: %s";

// A failed DoInference: refused by the module, or by what was thrown.
constexpr const char* kInferenceError = TESSARINE_CONSOLE_PREFIX "DoInference error: %s";
constexpr const char* kInferenceBusy = TESSARINE_CONSOLE_PREFIX "DoInference ov::Busy error: %s";
constexpr const char* kInferenceOvError = TESSARINE_CONSOLE_PREFIX "DoInference ov::Exception error: %s";
constexpr const char* kInferenceStdError = TESSARINE_CONSOLE_PREFIX "DoInference std::exception error: %s";
constexpr const char* kInferenceOtherError = TESSARINE_CONSOLE_PREFIX "DoInference another exception error.";

}  // namespace console

#endif
