// A device plugin for tests: the runtime's real CPU plugin, registered under
// the device name TESSARINE_DOUBLE_DEVICE ("NPU" or "GPU"), so that the MULTI device
// with the priority "NPU" really compiles, reshapes and runs on a machine
// without an NPU, and a "GPU" load really compiles without a GPU.
//
// The core refuses a plugin library whose own device name is not part of the
// name it is registered under, so the CPU plugin cannot be mapped to "NPU"
// directly; this library creates it and renames it first.
#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace ov {
// Only the one non-virtual member this library calls; the runtime exports it.
class IPlugin {
public:
    void set_device_name(const std::string& device_name);
};
}  // namespace ov

static bool refusing = false;

// While set, a core that has yet to create this device's plugin (the first
// time, or after unload_plugin) fails to: so a test can make a compile on
// MULTI fail on demand, since MULTI creates the plugins of its list then.
extern "C" __attribute__((visibility("default"))) void tessarine_double_refuse(bool refuse) { refusing = refuse; }

extern "C" __attribute__((visibility("default"))) void create_plugin_engine(std::shared_ptr<ov::IPlugin>& plugin) {
    if (refusing) throw std::runtime_error("the " TESSARINE_DOUBLE_DEVICE " double refuses to start");
    using CreatePlugin = void (*)(std::shared_ptr<ov::IPlugin>&);
    static void* const cpu_plugin = dlopen(TESSARINE_CPU_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!cpu_plugin) throw std::runtime_error(std::string("cannot load the CPU plugin: ") + dlerror());
    auto create = reinterpret_cast<CreatePlugin>(dlsym(cpu_plugin, "create_plugin_engine"));
    if (!create) throw std::runtime_error("the CPU plugin has no create_plugin_engine");
    create(plugin);
    plugin->set_device_name(TESSARINE_DOUBLE_DEVICE);
}
