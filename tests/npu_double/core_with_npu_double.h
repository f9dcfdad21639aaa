// A core in which "NPU" (and "GPU") is the runtime's own CPU plugin under another name,
// shared by the tests and the benchmark. Plugins named in a core's plugin
// file are registered before the runtime's own, so "NPU" is the double here.
#ifndef TESSARINE_CORE_WITH_NPU_DOUBLE_H
#define TESSARINE_CORE_WITH_NPU_DOUBLE_H

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <openvino/openvino.hpp>
#include <string>

// With a "GPU" double too when gpu_double_library is given. The plugin list
// is a file of this process's own, gone once the core has read it.
inline std::shared_ptr<ov::Core> CoreWithNpuDoubleAt(const std::string& double_library,
                                                     const std::string& gpu_double_library = "") {
    static std::atomic<int> made{0};
    const std::string path =
        "/tmp/tessarine-plugins-" + std::to_string(getpid()) + "-" + std::to_string(made++) + ".xml";
    std::string xml = "<ie><plugins><plugin name=\"NPU\" location=\"" + double_library + "\"/>";
    if (!gpu_double_library.empty()) xml += "<plugin name=\"GPU\" location=\"" + gpu_double_library + "\"/>";
    std::ofstream(path) << xml << "</plugins></ie>";
    auto core = std::make_shared<ov::Core>(path);
    std::remove(path.c_str());
    return core;
}

#endif
