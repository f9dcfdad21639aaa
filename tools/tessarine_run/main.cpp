// tessarine_run: drives the inference module as the host application does,
// on a model file and a picture or .npy tensors. See --help of each mode.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <vector>

#include "modes.h"

namespace {

void AddCommon(CLI::App& mode, CommonOptions& options, const std::string& default_model) {
    options.module = TESSARINE_MODULE_FILE;
    options.model = default_model;
    CLI::Option* module =
        mode.add_option("--module", options.module, "the inference module library to load")->capture_default_str();
#if defined(TESSARINE_ISOLATED_MODULE_FILE)
    mode.add_flag_callback(
            "--isolated", [&options] { options.module = TESSARINE_ISOLATED_MODULE_FILE; },
            "load the isolated module, which runs the model in a confined worker process")
        ->excludes(module);
#else
    (void)module;
#endif
    mode.add_option("--model", options.model, "the model file, read whole into memory")->capture_default_str();
    mode.add_option("--device", options.device, "device index: -1 CPU, 0+ GPU, -2 NPU, -3 NPU,GPU,CPU")
        ->capture_default_str();
    mode.add_option("--precision", options.precision, "precision code: 2 f16, 3 f32, 5 bf16, ...")
        ->capture_default_str();
    mode.add_option("--repeat", options.repeat, "runs to time (min and median are printed)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    mode.add_option("--out", options.out_dir, "folder for the files written")->capture_default_str();
}

std::string Triple(const std::array<float, 3>& v) {
    char text[96];
    std::snprintf(text, sizeof text, "%g,%g,%g", v[0], v[1], v[2]);
    return text;
}

// The normalisation in options.norm on entry is the mode's default.
void AddPicture(CLI::App& mode, PictureOptions& options, const std::string& default_picture) {
    options.picture = default_picture;
    mode.add_option("picture", options.picture, "PNG or JPEG picture")->capture_default_str();
    mode.add_option_function<std::vector<float>>(
            "--mean",
            [&options](const std::vector<float>& v) { std::copy(v.begin(), v.end(), options.norm.mean.begin()); },
            "per-channel mean subtracted from 0-255 samples, in the order fed (default " + Triple(options.norm.mean) +
                ")")
        ->delimiter(',')
        ->expected(3);
    mode.add_option_function<std::vector<float>>(
            "--scale",
            [&options](const std::vector<float>& v) { std::copy(v.begin(), v.end(), options.norm.scale.begin()); },
            "per-channel factor applied after the mean (default " + Triple(options.norm.scale) + ")")
        ->delimiter(',')
        ->expected(3);
    mode.add_flag(
        "--bgr,!--rgb", options.norm.bgr,
        std::string("feed the channels in BGR or RGB order (default ") + (options.norm.bgr ? "BGR)" : "RGB)"));
    mode.add_option("--save-input", options.save_input, "write the input tensor as .npy");
    mode.add_option("--save-output", options.save_output, "write the raw output tensor as .npy");
}

void AddMap(CLI::App& app, MapOptions& options) {
    CLI::App* mode = app.add_subcommand("map", "the map form: a picture in, a planar f32 map out, written as PNGs");
    AddCommon(*mode, options.common, TESSARINE_DEFAULTS_DIR "/text_detection.onnx");
    // The defaults are the default model's, as RapidOCR runs it: BGR samples
    // scaled to [-1, 1], small pictures scaled up to a shorter side of 736.
    options.picture.norm = Normalisation{{127.5f, 127.5f, 127.5f}, {1 / 127.5f, 1 / 127.5f, 1 / 127.5f}, true};
    AddPicture(*mode, options.picture, TESSARINE_DEFAULTS_DIR "/page.png");
    options.min_side = 736;
    options.max_side = 2000;
    mode->add_option("--size", options.size,
                     "input WxH for a model of dynamic size (default: the picture's size "
                     "within --min-side and --max-side, rounded to multiples of 32)");
    mode->add_option("--min-side", options.min_side, "scale smaller pictures up to this shorter side (0: never)")
        ->capture_default_str();
    mode->add_option("--max-side", options.max_side, "scale larger pictures down to this longer side (0: never)")
        ->capture_default_str();
    mode->add_option("--out-size", options.out_size, "output WxH where the model leaves it open (default: input)");
    mode->add_option("--channel", options.channel, "map channel to show when there are not 3")->capture_default_str();
    mode->callback([&options] { RunMap(options); });
}

void AddDetect(CLI::App& app, DetectOptions& options) {
    CLI::App* mode = app.add_subcommand("detect",
                                        "the detect form: a letterboxed picture in, an 84-row detection head out, "
                                        "decoded into boxes");
    // The default detector is YOLOX-Nano, converted to take what the defaults
    // feed: RGB samples scaled to [0, 1].
    AddCommon(*mode, options.common, TESSARINE_DEFAULTS_DIR "/object_detection.onnx");
    AddPicture(*mode, options.picture, TESSARINE_DEFAULTS_DIR "/astronaut.png");
    mode->add_option("--size", options.size, "square input size for a model of dynamic size (multiple of 32)")
        ->capture_default_str();
    mode->add_option("--score", options.min_score, "minimum class score")->capture_default_str();
    mode->add_option("--iou", options.max_iou, "overlap above which a box of the same class is dropped")
        ->capture_default_str();
    mode->add_option("--max-detections", options.max_detections, "at most this many boxes")->capture_default_str();
    mode->callback([&options] { RunDetect(options); });
}

void AddTensors(CLI::App& app, TensorOptions& options) {
    CLI::App* mode = app.add_subcommand("tensors", "the tensors form: named .npy tensors in, one .npy per output");
    AddCommon(*mode, options.common, "");
    mode->get_option("--model")->required();
    mode->add_option("--input", options.inputs, "NAME=FILE.npy (NAME may be left out for a single input)")->required();
    mode->add_option("--output", options.outputs,
                     "NAME or NAME:TYPE (f32 default), in the model's output order; optional for one output");
    mode->add_flag("--runtime-outputs", options.runtime_outputs, "let the runtime allocate the outputs");
    mode->callback([&options] { RunTensors(options); });
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"tessarine_run: runs a model through the Tessarine inference module, as a host application does"};
    app.require_subcommand(1);
    MapOptions map;
    DetectOptions detect;
    TensorOptions tensors;
    AddMap(app, map);
    AddDetect(app, detect);
    AddTensors(app, tensors);
    try {
        app.parse(argc, argv);  // runs the chosen mode
        return 0;
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tessarine_run: error: %s\n", e.what());
        return 1;
    }
}
