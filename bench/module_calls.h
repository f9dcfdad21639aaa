// The module's DoInference forms as a host calls them, over HostBuffers, as
// timed variants. A false result throws with the module's error text.
#ifndef TESSARINE_BENCH_MODULE_CALLS_H
#define TESSARINE_BENCH_MODULE_CALLS_H

#include <vector>

#include "host_buffers.h"
#include "module_access.h"
#include "timing.h"

// Form 0 for a map output, form 1 for a detection head.
Variant SingleForm(IImageAIInference& object, HostBuffers& b, bool map_output);
// Form 2 on records made once, as a host that keeps them would.
Variant NamedForm(IImageAIInference& object, const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs);

// N of a detection head: the cells of the 8-, 16- and 32-pixel grids.
uint64_t HeadCells(uint32_t width, uint32_t height);
// [1, channels, height, width] for a map, [1, 84, N] for a head.
std::vector<int64_t> OutputDims(uint32_t width, uint32_t height, bool map_output, uint64_t map_channels);

#endif
