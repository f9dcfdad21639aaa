// Device index -> device name, core properties, compile call and the
// supported-property read. None of these catch anything: a device or property
// the runtime refuses fails the load through its exception handler.
#include "module/tessarine.h"

namespace {

void SetOne(ov::Core& core, const std::string& device, const char* key, ov::Any value) {
    core.set_property(device, ov::AnyMap{{key, std::move(value)}});
}

std::string DevicePriorities(std::initializer_list<const char*> devices) {
    std::string joined;
    for (const char* device : devices) {
        if (!joined.empty()) joined += ',';
        joined += device;
    }
    return joined;
}

}  // namespace

std::string Tessarine::DeviceNameFor(int32_t device_index) {
    if (device_index >= 0) return "GPU";  // the index picks no particular GPU
    if (device_index == -1) return "CPU";
    if (device_index == -2 || device_index == -3) return "MULTI";
    return "";
}

void Tessarine::ApplyDeviceProperties(std::shared_ptr<ov::Core> core, int32_t device_index,
                                      const std::string& device_name, ov::element::Type element_type) {
    if (device_index == -1) {
        SetOne(*core, device_name, "EXECUTION_MODE_HINT", ov::hint::ExecutionMode::PERFORMANCE);
        SetOne(*core, device_name, "INFERENCE_PRECISION_HINT", element_type);
        SetOne(*core, device_name, "SCHEDULING_CORE_TYPE", ov::hint::SchedulingCoreType::ANY_CORE);
        SetOne(*core, device_name, "ENABLE_CPU_PINNING", true);
    } else if (device_index <= -2) {
        // The MULTI choices and the unnamed device: no precision hint.
        SetOne(*core, "NPU", "LOG_LEVEL", ov::log::Level::DEBUG);
    } else {
        SetOne(*core, device_name, "EXECUTION_MODE_HINT", ov::hint::ExecutionMode::PERFORMANCE);
        SetOne(*core, device_name, "INFERENCE_PRECISION_HINT", element_type);
    }
}

ov::CompiledModel Tessarine::CompileForDevice(const std::string& device_name) {
    if (device_name == "MULTI" && current_gpu_index == -2) {
        TraceParts("Make CompiledModel, device_name: NPU, device_index: ", current_gpu_index);
        return core->compile_model(built_model, "MULTI",
                                   ov::AnyMap{{"MULTI_DEVICE_PRIORITIES", DevicePriorities({"NPU"})}});
    }
    if (device_name == "MULTI") {
        TraceParts("Make CompiledModel, device_name: NPU+GPU+CPU, device_index: ", current_gpu_index);
        return core->compile_model(built_model, "MULTI",
                                   ov::AnyMap{{"MULTI_DEVICE_PRIORITIES", DevicePriorities({"NPU", "GPU", "CPU"})}});
    }
    TraceParts("Make CompiledModel, device_name: ", device_name, ", device_index: ", current_gpu_index);
    return core->compile_model(built_model, device_name, ov::AnyMap{});
}

void Tessarine::DumpSupportedProperties(std::shared_ptr<ov::CompiledModel> compiled_model) {
    // Every supported property is read, and converted to text, on every load:
    // a property the compiled model cannot report must fail the load even
    // though the texts themselves go nowhere.
    const std::vector<ov::PropertyName> names = compiled_model->get_property(ov::supported_properties);
    for (const ov::PropertyName& name : names) {
        const ov::Any value = compiled_model->get_property(name);
        const std::string text = value.as<std::string>();
        TraceParts(static_cast<const std::string&>(name), ": ", text);
    }
}
