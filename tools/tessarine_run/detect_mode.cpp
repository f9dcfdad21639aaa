// detect mode: the detect form. A letterboxed picture in, an 84-row detection head out,
// decoded into boxes on the original picture.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "coco_names.h"
#include "detections.h"
#include "drawing.h"
#include "modes.h"
#include "module_host.h"
#include "output_files.h"
#include "timing.h"

namespace {

Size TargetSize(const std::vector<int64_t>& dims, int size) {
    if (dims.size() != 4) throw std::runtime_error("detect mode needs a model whose first input is [1, 3, H, W]");
    if (dims[2] > 0 && dims[3] > 0) return Size{static_cast<int>(dims[3]), static_cast<int>(dims[2])};
    if (size <= 0 || size % 32 != 0) throw std::invalid_argument("--size must be a positive multiple of 32");
    return Size{size, size};
}

void PrintDetection(const Detection& d) {
    std::printf("detection class=%d name=\"%s\" score=%.4f box=[%.2f, %.2f, %.2f, %.2f]\n", d.class_id,
                CocoClassName(d.class_id).c_str(), d.score, d.box.x1, d.box.y1, d.box.x2, d.box.y2);
}

void DrawDetections(Picture& picture, const std::vector<Detection>& detections) {
    const int scale = std::max(1, std::min(picture.width, picture.height) / 250);
    for (const Detection& d : detections) {
        const Colour colour = ClassColour(d.class_id);
        DrawBox(picture, d.box, colour, scale + 1);
        char label[64];
        std::snprintf(label, sizeof label, "%s %.2f", CocoClassName(d.class_id).c_str(), d.score);
        DrawLabel(picture, static_cast<int>(d.box.x1), static_cast<int>(d.box.y1), label, colour, scale);
    }
}

struct Head {
    std::vector<float> values;
    uint64_t count = 0, rows = 0, cells = 0;
};

std::vector<Detection> Decode(const Head& head, const Letterbox& letterbox, const DetectOptions& options) {
    std::vector<Detection> found =
        SuppressOverlaps(DecodeHead(head.values.data(), head.rows, head.cells, options.min_score), options.max_iou,
                         static_cast<size_t>(std::max(0, options.max_detections)));
    for (Detection& d : found) d.box = ToSourcePixels(letterbox, d.box);
    std::printf("detections: %zu (score >= %.2f, IoU <= %.2f)\n", found.size(), options.min_score, options.max_iou);
    for (const Detection& d : found) PrintDetection(d);
    return found;
}

}  // namespace

void RunDetect(const DetectOptions& options) {
    Picture picture = ReadPicture(options.picture.picture);
    ModuleHost host(options.common.module);
    host.Load(options.common.model, options.common.device, options.common.precision);
    const Size target = TargetSize(host.Shapes().inputs.at(0), options.size);
    const Letterbox letterbox = FitLetterbox(picture.width, picture.height, target.width, target.height);
    std::vector<float> input = ToPlanar(ApplyLetterbox(picture, letterbox), options.picture.norm);
    std::printf("picture %s: %dx%d, letterboxed to %dx%d (content %dx%d at %d,%d)\n", options.picture.picture.c_str(),
                picture.width, picture.height, target.width, target.height, letterbox.content_width,
                letterbox.content_height, letterbox.pad_left, letterbox.pad_top);

    Head head;
    head.values.resize(image_ai::kDetectionRows *
                       image_ai::DetectionCells(static_cast<uint32_t>(target.width), static_cast<uint32_t>(target.height)));
    PrintLatency(TimeRuns(options.common.repeat, [&] {
        host.Check(host.Inference().DoInference(target.width, target.height, input.data(), head.values.data(),
                                                &head.count, &head.cells, &head.rows),
                   "DoInference (detect)");
    }));
    SaveF32(options.picture.save_input, {1, 3, target.height, target.width}, input.data());
    SaveF32(options.picture.save_output, {1, static_cast<int64_t>(head.rows), static_cast<int64_t>(head.cells)},
            head.values.data());

    const std::vector<Detection> found = Decode(head, letterbox, options);
    DrawDetections(picture, found);
    const std::string path = OutputPath(options.common.out_dir, Stem(options.picture.picture) + "_detect.png");
    WritePng(path, picture);
    std::printf("wrote %s\n", path.c_str());
}
