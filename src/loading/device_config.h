// Device index -> device name, core properties, compile call and the
// supported-property read. None of these catch anything: a device or property
// the runtime refuses fails the load through its exception handler.
#ifndef TESSARINE_DEVICE_CONFIG_H
#define TESSARINE_DEVICE_CONFIG_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <openvino/runtime/core.hpp>

// "GPU" for 0 or more (the index picks no particular GPU), "CPU" for -1,
// "MULTI" for -2 and -3, and nothing for the rest.
std::string DeviceNameFor(int32_t device_index);
// The properties a load on the CPU (device -1) sets on the core, in the order
// it sets them.
std::vector<std::pair<const char*, ov::Any>> CpuProperties(ov::element::Type element_type);
// Properties set on the core, which keeps them for every later load.
void ApplyDeviceProperties(std::shared_ptr<ov::Core> core, int32_t device_index, const std::string& device_name,
                           ov::element::Type element_type);
ov::CompiledModel CompileForDevice(ov::Core& core, const std::shared_ptr<ov::Model>& built_model,
                                   const std::string& device_name, int32_t device_index);
// Every supported property is read, and converted to text, on every load: a
// property the compiled model cannot report must fail the load even though
// the texts themselves go nowhere.
void DumpSupportedProperties(std::shared_ptr<ov::CompiledModel> compiled_model);

#endif
