// map mode: the map form. One picture in, one planar f32 map out.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "map_pictures.h"
#include "image_ai_host.h"
#include "modes.h"
#include "module_host.h"
#include "output_files.h"
#include "timing.h"

namespace {

int NearestMultipleOf32(int v) { return std::max(32, static_cast<int>(std::lround(v / 32.0)) * 32); }

// The model's own size where it has one; otherwise --size, or the picture's
// size scaled into --min-side and --max-side and rounded to multiples of 32
// (what fully convolutional models accept).
Size InputSize(const std::vector<int64_t>& dims, const MapOptions& options, const Picture& picture) {
    if (dims.size() != 4) throw std::runtime_error("map mode needs a model whose first input is [N, 3, H, W]");
    if (dims[2] > 0 && dims[3] > 0) return Size{static_cast<int>(dims[3]), static_cast<int>(dims[2])};
    if (!options.size.empty()) return ParseSize(options.size, "--size");
    double scale = 1.0;
    const int shorter = std::min(picture.width, picture.height), longer = std::max(picture.width, picture.height);
    if (options.min_side > 0 && shorter < options.min_side) scale = static_cast<double>(options.min_side) / shorter;
    if (options.max_side > 0 && longer * scale > options.max_side)
        scale = static_cast<double>(options.max_side) / longer;
    return Size{NearestMultipleOf32(static_cast<int>(std::lround(picture.width * scale))),
                NearestMultipleOf32(static_cast<int>(std::lround(picture.height * scale)))};
}

struct OutputLayout {
    int channels = 1;
    Size size;
};

OutputLayout OutputOf(const std::vector<int64_t>& dims, const MapOptions& options, Size input) {
    if (dims.size() != 4) throw std::runtime_error("map mode needs a model whose first output is [N, C, H, W]");
    OutputLayout layout;
    layout.channels = dims[1] > 0 ? static_cast<int>(dims[1]) : 1;
    layout.size = input;
    if (dims[2] > 0 && dims[3] > 0) layout.size = Size{static_cast<int>(dims[3]), static_cast<int>(dims[2])};
    if (!options.out_size.empty()) layout.size = ParseSize(options.out_size, "--out-size");
    return layout;
}

void WritePictures(const MapOptions& options, const Picture& picture, const std::vector<float>& output,
                   const OutputLayout& layout) {
    const MapView view{layout.channels, layout.size.width, layout.size.height, output.data()};
    const Picture map_picture = MapToPicture(view, options.channel);
    const std::string stem = Stem(options.picture.picture);
    const std::string map_path = OutputPath(options.common.out_dir, stem + "_map.png");
    const std::string overlay_path = OutputPath(options.common.out_dir, stem + "_map_overlay.png");
    WritePng(map_path, map_picture);
    WritePng(overlay_path, OverlayMap(picture, map_picture, layout.channels != 3));
    std::printf("wrote %s\nwrote %s\n", map_path.c_str(), overlay_path.c_str());
}

void PrintValueRange(const std::vector<float>& output) {
    const auto [low, high] = std::minmax_element(output.begin(), output.end());
    double sum = 0;
    for (float v : output) sum += v;
    std::printf("map values: min %.6g, max %.6g, mean %.6g\n", *low, *high, sum / output.size());
}

}  // namespace

void RunMap(const MapOptions& options) {
    const Picture picture = ReadPicture(options.picture.picture);
    ModuleHost host(options.common.module);
    host.Load(options.common.model, options.common.device, options.common.precision);
    const Size input_size = InputSize(host.Shapes().inputs.at(0), options, picture);
    std::vector<float> input = ToPlanar(Resize(picture, input_size.width, input_size.height), options.picture.norm);
    const OutputLayout layout = OutputOf(host.Shapes().outputs.at(0), options, input_size);
    std::vector<float> output(static_cast<size_t>(layout.channels) * layout.size.width * layout.size.height);
    std::printf("picture %s: %dx%d, run at %dx%d, map %d x %dx%d\n", options.picture.picture.c_str(), picture.width,
                picture.height, input_size.width, input_size.height, layout.channels, layout.size.width,
                layout.size.height);

    const image_ai::OutputDescriptor desc = image_ai::DescriptorFor(static_cast<uint64_t>(layout.channels));
    PrintLatency(TimeRuns(options.common.repeat, [&] {
        host.Check(host.Inference().DoInference(input_size.width, input_size.height, input.data(), desc.data(),
                                                layout.size.width, layout.size.height, output.data()),
                   "DoInference (map)");
    }));
    PrintValueRange(output);
    SaveF32(options.picture.save_input, {1, 3, input_size.height, input_size.width}, input.data());
    SaveF32(options.picture.save_output, {1, layout.channels, layout.size.height, layout.size.width}, output.data());
    WritePictures(options, picture, output, layout);
}
