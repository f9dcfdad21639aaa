// What the module asks of the runtime's core. Every
// ov::Core::set_property(device, properties) and
// ov::Core::compile_model(model, device, properties) made in this test binary
// while a log is alive is recorded as it was asked, then passed on to the
// runtime itself. What a device keeps of a property depends on the machine
// (a CPU without bf16 keeps f32 for a bf16 hint); what the module asked for
// does not, so the device step is checked here on every CPU alike.
#ifndef TESSARINE_TEST_RUNTIME_CALLS_H
#define TESSARINE_TEST_RUNTIME_CALLS_H

#include <ostream>
#include <string>
#include <vector>

#include <openvino/runtime/core.hpp>

struct RuntimeCall {
    std::string what;  // "set_property" or "compile_model"
    std::string device;
    ov::AnyMap properties;
    bool operator==(const RuntimeCall& other) const;
};
void PrintTo(const RuntimeCall& call, std::ostream* out);

class RuntimeCallLog {
public:
    RuntimeCallLog();
    ~RuntimeCallLog();
    RuntimeCallLog(const RuntimeCallLog&) = delete;
    RuntimeCallLog& operator=(const RuntimeCallLog&) = delete;
    std::vector<RuntimeCall> calls;
};

#endif
