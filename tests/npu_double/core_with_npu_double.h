// A core in which "NPU" (and "GPU") is the runtime's own CPU plugin under another name,
// shared by the tests and the benchmark. Plugins named in a core's plugin
// file are registered before the runtime's own, so "NPU" is the double here.
#ifndef TESSARINE_CORE_WITH_NPU_DOUBLE_H
#define TESSARINE_CORE_WITH_NPU_DOUBLE_H

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <openvino/openvino.hpp>
#include <stdexcept>
#include <string>

// With a "GPU" double too when gpu_double_library is given.
inline std::shared_ptr<ov::Core> CoreWithNpuDoubleAt(const std::string& double_library,
                                                     const std::string& gpu_double_library = "") {
    char path[] = "/tmp/tessarine-plugins-XXXXXX.xml";
    const int fd = mkstemps(path, 4);
    if (fd < 0) throw std::runtime_error("mkstemps failed");
    std::string xml = "<ie><plugins><plugin name=\"NPU\" location=\"" + double_library + "\"/>";
    if (!gpu_double_library.empty()) xml += "<plugin name=\"GPU\" location=\"" + gpu_double_library + "\"/>";
    xml += "</plugins></ie>";
    const bool written = write(fd, xml.data(), xml.size()) == static_cast<ssize_t>(xml.size());
    close(fd);
    if (!written) {
        unlink(path);
        throw std::runtime_error("cannot write the plugin list");
    }
    auto core = std::make_shared<ov::Core>(path);
    unlink(path);
    return core;
}

#endif
