#ifndef TESSARINE_MODEL_IO_RECORDS_H
#define TESSARINE_MODEL_IO_RECORDS_H

#include <cstdint>
#include <string>
#include <vector>

#include <openvino/core/node_output.hpp>

// Records the names and dimensions of one side's ports ("input" or "output",
// as the traces name it), which GetInputShape and GetOutputShape report: one
// entry per port, -1 for a dynamic axis. A port whose name or shape cannot be
// read is skipped; the load goes on with the next one, and what was stored
// for it before the failure stays.
void RecordPorts(const char* kind, const std::vector<ov::Output<ov::Node>>& ports, std::vector<std::string>& names,
                 std::vector<std::vector<int64_t>>& node_dims);

#endif
