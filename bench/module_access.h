// The module as the benchmark holds it: the same sources as the shared
// library, built without trace texts and linked in, so that a raw request can
// be made from the very compiled model the module runs, and so that the MULTI
// path can be given a core with the "NPU" double. Every timed module call
// still goes through IImageAIInference, as a host's does.
#ifndef TESSARINE_BENCH_MODULE_ACCESS_H
#define TESSARINE_BENCH_MODULE_ACCESS_H

#include <memory>
#include <string>
#include <vector>

#include "image_ai_inference.h"
#include "module/tessarine.h"

// The name the module declares as its friend; this is the benchmark's own,
// smaller view of the object's state.
struct TessarineTestAccess {
    static void SetCore(Tessarine& object, std::shared_ptr<ov::Core> core) { object.core = std::move(core); }
    static ov::CompiledModel& Compiled(Tessarine& object) { return *object.compiled_model; }
};

using ObjectPtr = std::unique_ptr<IImageAIInference, void (*)(IImageAIInference*)>;

ObjectPtr NewObject();
// Loads or throws with the module's own error text.
void LoadOrThrow(IImageAIInference& object, const std::vector<char>& model, int32_t device_index);
ov::CompiledModel& CompiledModelOf(IImageAIInference& object);

std::vector<char> ReadFileBytes(const std::string& path);

// A core in which "NPU" is the runtime's CPU plugin under another name.
std::shared_ptr<ov::Core> CoreWithNpuDouble();

// The compile configuration of LoadModel on device -1 with precision code 3.
ov::AnyMap CpuConfig();

// Sends the module's console lines (printed on a rebuild) to /dev/null while
// alive, so that they do not break up the benchmark's own output.
class QuietStdout {
public:
    QuietStdout();
    ~QuietStdout();
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_fd_;
};

#endif
