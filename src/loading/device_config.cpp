#include "loading/device_config.h"

#include "module/diagnostics.h"

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

std::vector<std::pair<const char*, ov::Any>> CpuProperties(ov::element::Type element_type) {
    return {{"EXECUTION_MODE_HINT", ov::hint::ExecutionMode::PERFORMANCE},
            {"INFERENCE_PRECISION_HINT", element_type},
            {"SCHEDULING_CORE_TYPE", ov::hint::SchedulingCoreType::ANY_CORE},
            {"ENABLE_CPU_PINNING", true}};
}

std::string DeviceNameFor(int32_t device_index) {
    if (device_index >= 0) return "GPU";
    if (device_index == -1) return "CPU";
    if (device_index == -2 || device_index == -3) return "MULTI";
    return "";
}

void ApplyDeviceProperties(std::shared_ptr<ov::Core> core, int32_t device_index, const std::string& device_name,
                           ov::element::Type element_type) {
    if (device_index == -1) {
        for (auto& [key, value] : CpuProperties(element_type)) SetOne(*core, device_name, key, std::move(value));
    } else if (device_index <= -2) {
        // The MULTI choices and the unnamed device: no precision hint.
        SetOne(*core, "NPU", "LOG_LEVEL", ov::log::Level::DEBUG);
    } else {
        SetOne(*core, device_name, "EXECUTION_MODE_HINT", ov::hint::ExecutionMode::PERFORMANCE);
        SetOne(*core, device_name, "INFERENCE_PRECISION_HINT", element_type);
    }
}

ov::CompiledModel CompileForDevice(ov::Core& core, const std::shared_ptr<ov::Model>& built_model,
                                   const std::string& device_name, int32_t device_index) {
    if (device_name == "MULTI" && device_index == -2) {
        TraceParts("Make CompiledModel, device_name: NPU, device_index: ", device_index);
        return core.compile_model(built_model, "MULTI",
                                  ov::AnyMap{{"MULTI_DEVICE_PRIORITIES", DevicePriorities({"NPU"})}});
    }
    if (device_name == "MULTI") {
        TraceParts("Make CompiledModel, device_name: NPU+GPU+CPU, device_index: ", device_index);
        return core.compile_model(built_model, "MULTI",
                                  ov::AnyMap{{"MULTI_DEVICE_PRIORITIES", DevicePriorities({"NPU", "GPU", "CPU"})}});
    }
    TraceParts("Make CompiledModel, device_name: ", device_name, ", device_index: ", device_index);
    return core.compile_model(built_model, device_name, ov::AnyMap{});
}

void DumpSupportedProperties(std::shared_ptr<ov::CompiledModel> compiled_model) {
    const std::vector<ov::PropertyName> names = compiled_model->get_property(ov::supported_properties);
    for (const ov::PropertyName& name : names) {
        const ov::Any value = compiled_model->get_property(name);
        const std::string text = value.as<std::string>();
        TraceParts(static_cast<const std::string&>(name), ": ", text);
    }
}
