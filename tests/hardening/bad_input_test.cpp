// The catalogue of bad input, through the production library as a host loads
// it: every call here is one a careless or hostile host could make. Each row
// states what the host gets back (result, error text, console line) and then
// checks that nothing was lost: the object still serves a plain call.
//
// Texts the module writes are compared whole. Texts that come from the
// runtime are long and name its source files; a row gives the line of them
// that tells what went wrong, and the console line must carry the whole text.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "host.h"

namespace {

const std::string kLoadStd = "[OpenVINOInstance]Load model std::exception error: ";
const std::string kLoadOv = "[OpenVINOInstance]Load model ov::Exception error: ";
const std::string kRejected = "[OpenVINOInstance]DoInference error: ";
const std::string kInferOv = "[OpenVINOInstance]DoInference ov::Exception error: ";
const std::string kInferStd = "[OpenVINOInstance]DoInference std::exception error: ";

enum class Text { kNone, kModule, kRuntime };

struct BadInput {
    const char* label;
    const char* model;  // loaded on the CPU first; nullptr: a fresh object
    std::function<bool(IImageAIInference&)> call;
    bool result;
    Text source;
    std::string text;     // the module's whole text, or the telling line of the runtime's
    std::string console;  // how the console line starts; the whole text follows
    bool may_break_model = false;  // an empty image through a convolution (see README)
};

void PrintTo(const BadInput& row, std::ostream* os) { *os << row.label; }

// Buffers every row may use; all are larger than any row claims.
struct Buffers {
    std::vector<float> image = Image(8, 6), map = std::vector<float>(16 * 6 * 5), head = std::vector<float>(84 * 6);
    float a[4] = {1, 2, 3, 4}, b[4] = {10, 20, 30, 40}, sum[4] = {}, difference[4] = {};
    int32_t a_i32[4] = {1, 2, 3, 4};
    float values[5] = {1, 2, 3, 4, 5}, doubled[5] = {};
    int64_t n[2] = {1, 2}, k[2] = {};
    uint64_t count = 0, dim2 = 0, dim1 = 0;
};
Buffers buffers;

std::vector<char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

bool LoadBytes(IImageAIInference& object, const std::vector<char>& bytes, int32_t device = -1,
               uint32_t precision = 3) {
    static std::vector<std::vector<char>> kept;  // the host keeps model buffers alive
    kept.push_back(bytes);
    return object.LoadModel(kept.back().data(), kept.back().size(), device, precision);
}

std::vector<char> RandomBytes() {
    std::vector<char> bytes(1024);
    uint32_t state = 12345;
    for (char& byte : bytes) byte = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
    return bytes;
}

std::vector<char> Truncated(const char* model) {
    std::vector<char> bytes = ReadModel(model);
    bytes.resize(bytes.size() / 2);
    return bytes;
}

const std::string kIrWithoutLayers =
    "<?xml version=\"1.0\"?><net name=\"empty\" version=\"11\"><layers></layers><edges></edges></net>";
const std::string kIrRefused =
    "the model is OpenVINO IR, whose reader opens \".bin\" in the current directory for a model loaded from memory; "
    "IR models are refused.";

bool SingleImage(IImageAIInference& object, uint32_t width, uint32_t height, const void* desc, uint32_t out_width,
                 uint32_t out_height, void* image = buffers.image.data(), void* map = buffers.map.data()) {
    return object.DoInference(width, height, image, desc, out_width, out_height, map);
}

bool Detection(IImageAIInference& object, uint32_t width, uint32_t height, void* image = buffers.image.data(),
               uint64_t* count = &buffers.count) {
    return object.DoInference(width, height, image, buffers.head.data(), count, &buffers.dim2, &buffers.dim1);
}

bool Named(IImageAIInference& object, const std::vector<TensorData>& inputs, std::vector<TensorData> outputs) {
    return object.DoInference(inputs, outputs);
}

const auto kTwoChannels = Descriptor(2);
const auto kFiveChannels = Descriptor(5);
const auto kChannelsWrapping = Descriptor((1ull << 62) + 1);  // x 6 x 8 floats wraps to 48 floats
constexpr int64_t kTwoTo32 = int64_t{1} << 32, kWrapsToFour = (int64_t{1} << 62) + 1;
const std::string kInputOverflow = "input.dims overflow 64 bits (element or byte count).";
const std::string kHeldText = " is not named, and the request still holds an earlier call's buffer for it.";

TensorData A(std::vector<int64_t> dims = {1, 4}) { return Record("a", std::move(dims), buffers.a); }
TensorData B() { return Record("b", {1, 4}, buffers.b); }
TensorData Sum() { return Record("sum", {1, 4}, buffers.sum); }
TensorData Difference() { return Record("difference", {1, 4}, buffers.difference); }
TensorData Values() { return Record("values", {1, 5}, buffers.values); }

// A page of four floats that the host unmaps after one call, so that any
// later touch of it ends the test.
float* Page(const float (&values)[4]) {
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) throw std::runtime_error("mmap failed");
    return static_cast<float*>(std::memcpy(page, values, sizeof values));
}

// A named call after one that bound both inputs and both outputs, whose
// buffers for b and difference the host has freed since.
std::function<bool(IImageAIInference&)> AfterBAndDifferenceWereFreed(std::vector<TensorData> inputs,
                                                                     std::vector<TensorData> outputs) {
    return [=](IImageAIInference& o) {
        float* b = Page(buffers.b);
        float* difference = Page(buffers.difference);
        const bool first = Named(o, {A(), Record("b", {1, 4}, b)}, {Sum(), Record("difference", {1, 4}, difference)});
        munmap(b, 4096);
        munmap(difference, 4096);
        return first && Named(o, inputs, outputs);
    };
}

// The plain call each model gets after a row, which must succeed.
bool PlainCall(IImageAIInference& object, const std::string& model) {
    if (model == "dynamic_conv") return SingleImage(object, 8, 6, kTwoChannels.data(), 8, 6);
    if (model == "detect_head") return Detection(object, 8, 6);
    if (model == "ragged_output") return Named(object, {Values()}, {Record("doubled", {1, -1}, nullptr)});
    if (model == "passthrough")
        return Named(object, {Record("x", {1, 4}, buffers.a), Record("n", {2}, buffers.n, DATA_TYPE_INT64)},
                     {Record("y", {1, 4}, buffers.sum), Record("k", {2}, buffers.k, DATA_TYPE_INT64)});
    return Named(object, {A(), B()}, {Sum(), Difference()});
}

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, GiveTheirResultTextAndConsoleLineAndLoseNothing) {
    const BadInput& row = GetParam();
    ObjectPtr object = NewHostObject();
    if (row.model) ASSERT_TRUE(LoadBytes(*object, ReadModel(row.model))) << object->GetLastErrorMessage();

    StdoutCapture capture;
    const bool result = row.call(*object);
    const std::string console = capture.Text();
    const std::string error = object->GetLastErrorMessage();

    EXPECT_EQ(result, row.result);
    switch (row.source) {
        case Text::kNone:
            EXPECT_EQ(error, "");
            EXPECT_EQ(console, "");
            break;
        case Text::kModule:
            EXPECT_EQ(error, row.text);
            EXPECT_EQ(console, row.console + row.text);
            break;
        case Text::kRuntime:
            EXPECT_EQ(error.rfind("Exception from src/", 0), 0u) << error;
            EXPECT_NE(error.find(row.text), std::string::npos) << error;
            EXPECT_EQ(console, row.console + error);
            break;
    }

    const std::string model = row.model ? row.model : "two_inputs";
    if (!row.model) ASSERT_TRUE(LoadBytes(*object, ReadModel(model))) << object->GetLastErrorMessage();
    StdoutCapture quiet;
    bool plain = PlainCall(*object, model);
    if (!plain && row.may_break_model) {
        ASSERT_TRUE(LoadBytes(*object, ReadModel(model))) << object->GetLastErrorMessage();
        plain = PlainCall(*object, model);
    }
    EXPECT_TRUE(plain) << "after the row: " << object->GetLastErrorMessage();
}

const BadInput kLoads[] = {
    {"NullBufferSizeZero", nullptr, [](IImageAIInference& o) { return o.LoadModel(nullptr, 0, -1, 3); }, false,
     Text::kRuntime, "Model can't be parsed", kLoadOv},
    {"NullBufferWithASize", nullptr, [](IImageAIInference& o) { return o.LoadModel(nullptr, 16, -1, 3); }, false,
     Text::kModule, "model_data is nullptr while model_size is 16.", kLoadStd},
    {"EmptyBuffer", nullptr, [](IImageAIInference& o) { return LoadBytes(o, {}); }, false, Text::kRuntime,
     "Model can't be parsed", kLoadOv},
    {"PlainText", nullptr, [](IImageAIInference& o) { return LoadBytes(o, Bytes("this is not a model")); }, false,
     Text::kRuntime, "Unable to read the model. Please check if the model format is supported and model is correct.",
     kLoadOv},
    {"RandomBytes", nullptr, [](IImageAIInference& o) { return LoadBytes(o, RandomBytes()); }, false, Text::kRuntime,
     "Unable to read the model. Please check if the model format is supported and model is correct.", kLoadOv},
    {"HalfAnOnnxFile", nullptr, [](IImageAIInference& o) { return LoadBytes(o, Truncated("detect_head")); }, false,
     Text::kRuntime, "Error during import of ONNX model provided as input stream  with binary protobuf message.",
     kLoadOv},
    {"OnnxOutOfOrderWithAnOutputNoNodeProduces", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("unsortable_output_is_an_initializer")); }, false,
     Text::kModule, "the ONNX graph is not in topological order and its output \"c\" is produced by no node.",
     kLoadStd},
    {"OnnxNodesInACycle", nullptr, [](IImageAIInference& o) { return LoadBytes(o, ReadModel("unsortable_cycle")); },
     false, Text::kModule, "the ONNX graph is not in topological order and its nodes form a cycle through \"a\".",
     kLoadStd},
    {"OnnxInOrderWithAnOutputNothingProduces", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("ordered_output_produced_by_nothing")); }, false,
     Text::kRuntime, "z node not found in graph cache", kLoadOv},
    {"OnnxTensorWithExternalData", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("external_data_initializer")); }, false, Text::kModule,
     "the ONNX tensor \"w\" refers to external data; a model loaded from memory may not name files.", kLoadStd},
    {"IrXmlWithoutLayers", nullptr, [](IImageAIInference& o) { return LoadBytes(o, Bytes(kIrWithoutLayers)); }, false,
     Text::kModule, kIrRefused, kLoadStd},
    {"DeviceIndexBelowMinusThree", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("two_inputs"), -4); }, false, Text::kRuntime,
     "Device with \"\" name is not registered in the OpenVINO Runtime", kLoadOv},
    {"PrecisionTheCpuDoesNotTake", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("two_inputs"), -1, 8); }, false, Text::kRuntime,
     "Wrong value i8 for property key INFERENCE_PRECISION_HINT. Supported values: bf16, f16, f32, undefined",
     kLoadOv},
    {"UnknownPrecisionCode", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("two_inputs"), -1, 99); }, true, Text::kNone, "", ""},
};

const BadInput kWithoutAModel[] = {
    {"SingleImageOnANewObject", nullptr,
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kTwoChannels.data(), 8, 6); }, false, Text::kModule,
     "no model is loaded.", kRejected},
    {"DetectionAfterARelease", nullptr,
     [](IImageAIInference& o) {
         LoadBytes(o, ReadModel("detect_head"));
         o.ReleaseModel();
         return Detection(o, 8, 6);
     },
     false, Text::kModule, "no model is loaded.", kRejected},
    {"NamedAfterAFailedLoad", nullptr,
     [](IImageAIInference& o) {
         {
             StdoutCapture its_own_line;
             LoadBytes(o, RandomBytes());
         }
         return Named(o, {A(), B()}, {Sum(), Difference()});
     },
     false, Text::kModule, "no model is loaded.", kRejected},
    {"NamedOnAModelWithoutInputs", nullptr,
     [](IImageAIInference& o) {
         LoadBytes(o, ReadModel("no_inputs"));
         return Named(o, {A()}, {Record("y", {1, -1}, nullptr)});
     },
     false, Text::kRuntime, "set_input_tensor() must be called on a function with exactly one parameter.", kInferOv},
};

const BadInput kSingleImage[] = {
    {"NullImage", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kTwoChannels.data(), 8, 6, nullptr); }, false,
     Text::kModule, "input_data or output_data is nullptr.", kRejected},
    {"NullMap", "dynamic_conv",
     [](IImageAIInference& o) {
         return SingleImage(o, 8, 6, kTwoChannels.data(), 8, 6, buffers.image.data(), nullptr);
     },
     false, Text::kModule, "input_data or output_data is nullptr.", kRejected},
    {"DescriptorCountsFiveChannelsForTwo", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kFiveChannels.data(), 8, 6); }, false, Text::kRuntime,
     "Can't set the output tensor with index: 0, because the model output tensor (shape=[1,2,1..,1..]) and the "
     "current tensor (shape=(1.5.6.8)) are incompatible",
     kInferOv},
    {"NullDescriptorOnATwoChannelModel", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, nullptr, 8, 6); }, false, Text::kRuntime,
     "Can't set the output tensor with index: 0, because the model output tensor (shape=[1,2,1..,1..]) and the "
     "current tensor (shape=(1.3.6.8)) are incompatible",
     kInferOv},
    {"MapNarrowerThanTheImage", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kTwoChannels.data(), 4, 6); }, false, Text::kRuntime,
     "Could set new shape: [1,2,6,8]", kInferOv},
    {"MapWiderThanTheImage", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kTwoChannels.data(), 16, 6); }, true, Text::kNone, "",
     ""},
    {"ZeroWidth", "dynamic_conv", [](IImageAIInference& o) { return SingleImage(o, 0, 6, kTwoChannels.data(), 0, 6); },
     false, Text::kRuntime,
     "Kernel after dilation has size (dim: 1) larger than the data shape after padding (dim: 0) at axis 1.", kInferOv,
     true},
    {"ImageOverflowing64Bits", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 0xFFFFFFFFu, 0xFFFFFFFFu, kTwoChannels.data(), 8, 6); }, false,
     Text::kModule, "the input image overflows 64 bits (element or byte count).", kRejected},
    {"ChannelCountOverflowing64Bits", "dynamic_conv",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kChannelsWrapping.data(), 8, 6); }, false,
     Text::kModule, "the output overflows 64 bits (element or byte count).", kRejected},
    {"SingleImageOnATwoInputModel", "two_inputs",
     [](IImageAIInference& o) { return SingleImage(o, 8, 6, kTwoChannels.data(), 8, 6); }, false, Text::kRuntime,
     "set_input_tensor() must be called on a function with exactly one parameter.", kInferOv},
};

const BadInput kDetection[] = {
    {"NullCountPointer", "detect_head",
     [](IImageAIInference& o) { return Detection(o, 8, 6, buffers.image.data(), nullptr); }, false, Text::kModule,
     "output_count, output_dim2 or output_dim1 is nullptr.", kRejected},
    {"NullDetectionImage", "detect_head", [](IImageAIInference& o) { return Detection(o, 8, 6, nullptr); }, false,
     Text::kModule, "input_data or output_data is nullptr.", kRejected},
    {"DetectionOnAMapModel", "dynamic_conv", [](IImageAIInference& o) { return Detection(o, 8, 6); }, false,
     Text::kRuntime,
     "Can't set the output tensor with index: 0, because the model output tensor (shape=[1,2,1..,1..]) and the "
     "current tensor (shape=(1.84.3)) are incompatible",
     kInferOv},
    {"DetectionImageOverflowing64Bits", "detect_head",
     [](IImageAIInference& o) { return Detection(o, 0xFFFFFFFFu, 0xFFFFFFFFu); }, false, Text::kModule,
     "the input image overflows 64 bits (element or byte count).", kRejected},
    {"EmptyDetectionImage", "detect_head", [](IImageAIInference& o) { return Detection(o, 0, 0); }, false,
     Text::kRuntime,
     "Kernel after dilation has size (dim: 1) larger than the data shape after padding (dim: 0) at axis 0.", kInferOv,
     true},
};

std::function<bool(IImageAIInference&)> NamedCall(std::vector<TensorData> inputs, std::vector<TensorData> outputs) {
    return [=](IImageAIInference& o) { return Named(o, inputs, outputs); };
}

const BadInput kNamed[] = {
    {"NoInputs", "two_inputs", NamedCall({}, {Sum(), Difference()}), false, Text::kModule, "inputs is empty.",
     kRejected},
    {"NoOutputs", "two_inputs", NamedCall({A(), B()}, {}), false, Text::kModule, "outputs is empty.", kRejected},
    {"UnnamedAmongTwoInputs", "two_inputs", NamedCall({A(), Record("", {1, 4}, buffers.b)}, {Sum(), Difference()}),
     false, Text::kModule, "input.name is empty and inputs size > 1.", kRejected},
    {"EmptyInputDims", "two_inputs", NamedCall({A({}), B()}, {Sum(), Difference()}), false, Text::kModule,
     "input.dims is empty.", kRejected},
    {"NegativeInputDim", "two_inputs", NamedCall({A({1, -4}), B()}, {Sum(), Difference()}), false, Text::kModule,
     "input.dims has a negative value.", kRejected},
    {"InputElementCountWrappingToFour", "two_inputs", NamedCall({A({kWrapsToFour, 4}), B()}, {Sum(), Difference()}),
     false, Text::kModule, kInputOverflow, kRejected},
    {"InputElementCountWrappingToZero", "two_inputs", NamedCall({A({kTwoTo32, kTwoTo32}), B()}, {Sum(), Difference()}),
     false, Text::kModule, kInputOverflow, kRejected},
    {"InputByteCountWrappingToFour", "two_inputs", NamedCall({A({1, kWrapsToFour}), B()}, {Sum(), Difference()}), false,
     Text::kModule, kInputOverflow, kRejected},
    {"OutputDimsOverflowing64Bits", "two_inputs",
     NamedCall({A(), B()}, {Sum(), Record("difference", {kWrapsToFour, 4}, buffers.difference)}), false,
     Text::kModule, "output.dims overflow 64 bits (element or byte count).", kRejected},
    {"NullInputData", "two_inputs", NamedCall({A(), Record("b", {1, 4}, nullptr)}, {Sum(), Difference()}), false,
     Text::kModule, "input.data is nullptr.", kRejected},
    {"UnnamedAmongTwoOutputs", "two_inputs",
     NamedCall({A(), B()}, {Sum(), Record("", {1, 4}, buffers.difference)}), false, Text::kModule,
     "output.name is empty and outputs size > 1.", kRejected},
    {"EmptyOutputDims", "two_inputs", NamedCall({A(), B()}, {Sum(), Record("difference", {}, buffers.difference)}),
     false, Text::kModule, "output.dims is empty.", kRejected},
    {"NullOutputData", "two_inputs", NamedCall({A(), B()}, {Sum(), Record("difference", {1, 4}, nullptr)}), false,
     Text::kModule, "output.data is nullptr.", kRejected},
    {"TypeCodeTwelve", "two_inputs", NamedCall({A(), Record("b", {1, 4}, buffers.b, 12)}, {Sum(), Difference()}),
     false, Text::kModule, "Unknown DataType", kInferStd},
    {"NegativeTypeCode", "two_inputs", NamedCall({A(), B()}, {Sum(), Record("difference", {1, 4}, buffers.b, -1)}),
     false, Text::kModule, "Unknown DataType", kInferStd},
    {"UnknownInputName", "two_inputs", NamedCall({A(), Record("c", {1, 4}, buffers.b)}, {Sum(), Difference()}), false,
     Text::kRuntime, "Input for tensor name 'c' is not found.", kInferOv},
    {"InputRecordNamedAfterAnOutput", "two_inputs",
     NamedCall({A(), Record("sum", {1, 4}, buffers.b)}, {Sum(), Difference()}), false, Text::kRuntime,
     "Input for tensor name 'sum' is not found.", kInferOv},
    {"OutputRecordNamedAfterAnInput", "two_inputs",
     NamedCall({A(), B()}, {Record("sum", {1, -1}, nullptr), Record("b", {1, -1}, nullptr)}), false,
     Text::kRuntime, "Output for tensor name 'b' is not found.", kInferOv},
    {"I32RecordForAnF32Input", "two_inputs",
     NamedCall({Record("a", {1, 4}, buffers.a_i32, DATA_TYPE_INT32), B()}, {Sum(), Difference()}), false,
     Text::kRuntime,
     "ParameterMismatch: Failed to set tensor for input with precision: i32, since the model input tensor precision "
     "is: f32",
     kInferOv},
    {"ShapeOneByThreeForOneByFour", "two_inputs", NamedCall({A({1, 3}), B()}, {Sum(), Difference()}), false,
     Text::kRuntime,
     "Can't set the input tensor with index: 0, because the model input (shape=[1,4]) and the tensor (shape=(1.3)) "
     "are incompatible",
     kInferOv},
    {"RankFiveForRankTwo", "two_inputs", NamedCall({A({1, 1, 1, 1, 4}), B()}, {Sum(), Difference()}), false,
     Text::kRuntime,
     "Can't set the input tensor with index: 0, because the model input (shape=[1,4]) and the tensor "
     "(shape=(1.1.1.1.4)) are incompatible",
     kInferOv},
    {"OneInputRecordForTwoInputs", "two_inputs", NamedCall({A()}, {Sum(), Difference()}), false, Text::kRuntime,
     "set_input_tensor() must be called on a function with exactly one parameter.", kInferOv},
    {"OneOutputRecordForTwoOutputs", "two_inputs", NamedCall({A(), B()}, {Sum()}), false, Text::kRuntime,
     "set_output_tensor() must be called on a function with exactly one parameter.", kInferOv},
    {"SameInputNamedTwiceAfterTheOtherWasFreed", "two_inputs",
     AfterBAndDifferenceWereFreed({A(), A()}, {Sum(), Difference()}), false, Text::kModule,
     "input \"a\" is named twice.", kRejected},
    {"SameOutputNamedTwiceAfterTheOtherWasFreed", "two_inputs",
     AfterBAndDifferenceWereFreed({A(), B()}, {Sum(), Sum()}), false, Text::kModule, "output \"sum\" is named twice.", kRejected},
    {"InputLeftOutAfterItsBufferWasFreed", "two_inputs",
     AfterBAndDifferenceWereFreed({A(), Record("c", {1, 4}, buffers.b)}, {Sum(), Difference()}), false,
     Text::kModule, "input \"b\"" + kHeldText, kRejected},
    {"OutputLeftOutAfterItsBufferWasFreed", "two_inputs",
     AfterBAndDifferenceWereFreed({A(), B()}, {Sum(), Record("c", {1, 4}, buffers.difference)}), false,
     Text::kModule, "output \"difference\"" + kHeldText, kRejected},
    {"RuntimeOutputsNamedTwice", "two_inputs",
     NamedCall({A(), B()}, {Record("sum", {1, -1}, nullptr), Record("sum", {1, -1}, nullptr)}), true, Text::kNone, "",
     ""},
    {"RuntimeOutputsOnAStaticModel", "two_inputs",
     NamedCall({A(), B()}, {Record("sum", {1, -1}, nullptr), Record("difference", {1, -1}, nullptr)}), true,
     Text::kNone, "", ""},
    {"I32RecordForAnF32RuntimeOutput", "ragged_output",
     NamedCall({Values()}, {Record("doubled", {1, -1}, nullptr, DATA_TYPE_INT32)}), false, Text::kRuntime,
     "Tensor data with element type f32, is not representable as pointer to i32", kInferOv},
    {"I32RecordForAnF32OutputThatIsAnInput", "passthrough",
     NamedCall({Record("x", {1, 4}, buffers.a), Record("n", {2}, buffers.n, DATA_TYPE_INT64)},
               {Record("z", {1, 4}, buffers.a_i32, DATA_TYPE_INT32), Record("k", {2}, buffers.k, DATA_TYPE_INT64)}),
     false, Text::kModule, "the buffer for output 'z' (i32 [1,4]) does not fit the model's output (f32 [1,4]).",
     kInferStd},
    {"OneRuntimeOutputUnderAnyName", "ragged_output",
     NamedCall({Values()}, {Record("no such output", {1, -1}, nullptr)}), true, Text::kNone, "", ""},
};

auto RowName = [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.label); };

INSTANTIATE_TEST_SUITE_P(Loads, BadInputs, ::testing::ValuesIn(kLoads), RowName);
INSTANTIATE_TEST_SUITE_P(WithoutAModel, BadInputs, ::testing::ValuesIn(kWithoutAModel), RowName);
INSTANTIATE_TEST_SUITE_P(SingleImage, BadInputs, ::testing::ValuesIn(kSingleImage), RowName);
INSTANTIATE_TEST_SUITE_P(Detection, BadInputs, ::testing::ValuesIn(kDetection), RowName);
INSTANTIATE_TEST_SUITE_P(Named, BadInputs, ::testing::ValuesIn(kNamed), RowName);

// One of the rows that succeed, in detail: the runtime shrinks the bound map
// to the model's own shape, so the host's wider map is filled at the model's
// width, rows packed, and its tail is left as it was.
TEST(MapWiderThanTheImage, IsWrittenAtTheModelsWidthIntoTheFrontOfTheBuffer) {
    ObjectPtr object = NewHostObject();
    ASSERT_TRUE(LoadBytes(*object, ReadModel("dynamic_conv"))) << object->GetLastErrorMessage();
    std::vector<float> image = Image(8, 6);
    std::vector<float> map(2 * 16 * 6, -7.0f);
    ASSERT_TRUE(object->DoInference(8, 6, image.data(), kTwoChannels.data(), 16, 6, map.data()))
        << object->GetLastErrorMessage();
    const std::vector<float> expected = DynamicConvMap(image);
    EXPECT_EQ(std::vector<float>(map.begin(), map.begin() + 96), expected);
    EXPECT_EQ(std::vector<float>(map.begin() + 96, map.end()), std::vector<float>(96, -7.0f));
}

}  // namespace
