// The tool's three modes, one per inference form of the interface, and the
// options they take.
#ifndef TESSARINE_RUN_MODES_H
#define TESSARINE_RUN_MODES_H

#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"

struct CommonOptions {
    std::string module;
    std::string model;
    int32_t device = -1;
    uint32_t precision = 3;
    int repeat = 1;
    std::string out_dir = "out";
};

struct PictureOptions {
    std::string picture;
    Normalisation norm;
    std::string save_input;   // .npy of the tensor handed to the module
    std::string save_output;  // .npy of what the module returned
};

struct MapOptions {
    CommonOptions common;
    PictureOptions picture;
    std::string size;      // WxH for a model of dynamic size
    int min_side = 0;      // for a model of dynamic size: scale up to this shorter side
    int max_side = 0;      // ... and down to at most this longer side (0: no bound)
    std::string out_size;  // WxH of the output, where the model leaves it open
    int channel = 0;
};

struct DetectOptions {
    CommonOptions common;
    PictureOptions picture;
    int size = 640;  // for a model of dynamic size
    float min_score = 0.25f;
    float max_iou = 0.45f;
    int max_detections = 100;
};

struct TensorOptions {
    CommonOptions common;
    std::vector<std::string> inputs;   // NAME=FILE.npy
    std::vector<std::string> outputs;  // NAME or NAME:TYPE, in the model's output order
    bool runtime_outputs = false;
};

void RunMap(const MapOptions& options);
void RunDetect(const DetectOptions& options);
void RunTensors(const TensorOptions& options);

#endif
