// The one catalogue of bad input, through the production library as a host
// loads it: for each call a careless or hostile host could make, what the
// host gets back (result, last error, console line), and that nothing is
// lost: the buffers the call may not write are as they were, and the object
// then serves a plain call (after a reload where an empty image has spoilt
// the CPU plugin's compiled model, see README).
//
// The module's own texts are compared whole. The runtime's are quoted only
// where they show what the module handed over (a device name, an element
// type, a shape); the console line must carry the whole text either way.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <functional>

#include "host.h"

namespace {

enum Kind { kOk, kRejected, kInferStd, kInferOv, kLoadStd, kLoadOv };
const char* const kLine[] = {"",
                             "[OpenVINOInstance]DoInference error: ",
                             "[OpenVINOInstance]DoInference std::exception error: ",
                             "[OpenVINOInstance]DoInference ov::Exception error: ",
                             "[OpenVINOInstance]Load model std::exception error: ",
                             "[OpenVINOInstance]Load model ov::Exception error: "};

struct Row {
    const char* label;
    const char* model;  // loaded on the CPU first; nullptr: a fresh object
    std::function<bool(IImageAIInference&)> call;
    Kind kind;
    std::string text;  // the module's whole text, or a telling part of the runtime's
    bool may_spoil_the_model = false;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.label; }

// Inputs no call may write, and outputs a refused call may not write.
struct Buffers {
    std::vector<float> image = Image(8, 6), map = std::vector<float>(2 * 16 * 6), head = std::vector<float>(84 * 3);
    float a[4] = {1, 2, 3, 4}, b[4] = {10, 20, 30, 40}, values[5] = {1, 2, 3, 4, 5}, sum[4], difference[4];
    int32_t a_i32[4] = {1, 2, 3, 4};
    int64_t n[2] = {1, 2}, k[2];
    uint64_t count, dim2, dim1;

    std::vector<float> Outputs() const {
        std::vector<float> all = map;
        all.insert(all.end(), head.begin(), head.end());
        all.insert(all.end(), {sum[0], sum[3], difference[0], difference[3], float(k[0]), float(count), float(dim1)});
        return all;
    }
    void Reset() {
        std::fill(map.begin(), map.end(), -7.0f), std::fill(head.begin(), head.end(), -7.0f);
        std::fill(sum, sum + 4, -7.0f), std::fill(difference, difference + 4, -7.0f), std::fill(k, k + 2, -7);
        count = dim2 = dim1 = 7;
    }
};
Buffers buffers;
const Buffers kUntouched = Buffers();

bool LoadBytes(IImageAIInference& object, std::vector<char> bytes, int32_t device = -1) {
    static std::vector<std::vector<char>> kept;  // the host keeps model buffers alive
    kept.push_back(std::move(bytes));
    return object.LoadModel(kept.back().data(), kept.back().size(), device, 3);
}
std::function<bool(IImageAIInference&)> LoadFile(const char* model, int32_t device = -1) {
    return [=](IImageAIInference& o) { return LoadBytes(o, ReadModel(model), device); };
}
std::vector<char> RandomBytes() {
    std::vector<char> bytes(1024);
    uint32_t state = 12345;
    for (char& byte : bytes) byte = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
    return bytes;
}

const auto kTwo = Descriptor(2), kFive = Descriptor(5), kWrapping = Descriptor((1ull << 62) + 1);
bool Map(IImageAIInference& o, uint32_t width, uint32_t height, const void* desc, uint32_t out_width,
         uint32_t out_height, void* image = buffers.image.data(), void* map = buffers.map.data()) {
    return o.DoInference(width, height, image, desc, out_width, out_height, map);
}
bool Detect(IImageAIInference& o, uint32_t width, uint32_t height, void* image = buffers.image.data(),
            uint64_t* count = &buffers.count) {
    return o.DoInference(width, height, image, buffers.head.data(), count, &buffers.dim2, &buffers.dim1);
}
bool Tensors(IImageAIInference& o, const std::vector<TensorData>& inputs, std::vector<TensorData> outputs) {
    return o.DoInference(inputs, outputs);
}
std::function<bool(IImageAIInference&)> TensorsCall(std::vector<TensorData> inputs, std::vector<TensorData> outputs) {
    return [=](IImageAIInference& o) { return Tensors(o, inputs, outputs); };
}

TensorData A(std::vector<int64_t> dims = {1, 4}, void* data = buffers.a) { return Record("a", std::move(dims), data); }
TensorData B(std::vector<int64_t> dims = {1, 4}, void* data = buffers.b) { return Record("b", std::move(dims), data); }
TensorData Sum(std::vector<int64_t> dims = {1, 4}, void* data = buffers.sum) { return Record("sum", dims, data); }
TensorData Difference(std::vector<int64_t> dims = {1, 4}, void* data = buffers.difference) {
    return Record("difference", std::move(dims), data);
}
TensorData Named(const char* name, std::vector<int64_t> dims, void* data, int32_t type = DATA_TYPE_FLOAT32) {
    return Record(name, std::move(dims), data, type);
}
const std::vector<TensorData> kAB = {A(), B()}, kSums = {Sum(), Difference()};
const std::vector<TensorData> kPassthroughInputs = {Named("x", {1, 4}, buffers.a),
                                                    Named("n", {2}, buffers.n, DATA_TYPE_INT64)};
constexpr int64_t kTwoTo32 = int64_t{1} << 32, kWrapsToFour = (int64_t{1} << 62) + 1;
const std::string kInputOverflow = "input.dims overflow 64 bits (element or byte count).";
const std::string kHeld = " is not named, and the request still holds an earlier call's buffer for it.";

// A call after one that bound all four ports of two_inputs, whose buffers
// for b and difference the host has unmapped since, so that a run touching
// either ends the test.
std::function<bool(IImageAIInference&)> AfterBAndDifferenceWereFreed(std::vector<TensorData> inputs,
                                                                     std::vector<TensorData> outputs) {
    return [=](IImageAIInference& o) {
        static float a[4], sum[4];
        auto page = [] { return mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); };
        void *b = page(), *difference = page();
        const bool first = Tensors(o, {A({1, 4}, a), B({1, 4}, b)}, {Sum({1, 4}, sum), Difference({1, 4}, difference)});
        munmap(b, 4096), munmap(difference, 4096);
        return first && Tensors(o, inputs, outputs);
    };
}

bool PlainCall(IImageAIInference& object, const std::string& model) {
    if (model == "dynamic_conv") return Map(object, 8, 6, kTwo.data(), 8, 6);
    if (model == "detect_head") return Detect(object, 8, 6);
    if (model == "ragged_output")
        return Tensors(object, {Named("values", {1, 5}, buffers.values)}, {Named("doubled", {1, -1}, nullptr)});
    if (model == "passthrough")
        return Tensors(object, kPassthroughInputs, {Named("y", {1, -1}, nullptr), Named("z", {1, -1}, nullptr),
                                                    Named("m", {1, -1}, nullptr), Named("k", {-1}, nullptr, 7)});
    return Tensors(object, kAB, kSums);
}

class BadInputs : public ::testing::TestWithParam<Row> {};

TEST_P(BadInputs, GiveTheirResultTextAndConsoleLineAndLoseNothing) {
    const Row& row = GetParam();
    ObjectPtr object = NewHostObject();
    if (row.model) ASSERT_TRUE(LoadBytes(*object, ReadModel(row.model))) << object->GetLastErrorMessage();
    buffers.Reset();
    const Outcome outcome = Capture(*object, [&] { return row.call(*object); });

    EXPECT_EQ(outcome.ok, row.kind == kOk);
    EXPECT_EQ(outcome.console, kLine[row.kind] + outcome.error);
    if (row.kind == kOk || row.kind == kRejected || row.kind == kInferStd || row.kind == kLoadStd)
        EXPECT_EQ(outcome.error, row.text);
    else
        EXPECT_TRUE(!outcome.error.empty() && outcome.error.find(row.text) != std::string::npos) << outcome.error;
    const Buffers& now = buffers;
    EXPECT_EQ(now.image, kUntouched.image);
    EXPECT_TRUE(std::equal(now.a, now.a + 4, kUntouched.a) && std::equal(now.b, now.b + 4, kUntouched.b));
    if (!outcome.ok) {
        Buffers untouched;
        untouched.Reset();
        EXPECT_EQ(now.Outputs(), untouched.Outputs()) << "a refused call wrote into an output";
    }

    const std::string model = row.model ? row.model : "two_inputs";
    if (!row.model || row.may_spoil_the_model)
        ASSERT_TRUE(LoadBytes(*object, ReadModel(model))) << object->GetLastErrorMessage();
    const Outcome plain = Capture(*object, [&] { return PlainCall(*object, model); });
    EXPECT_TRUE(plain.ok && plain.error.empty() && plain.console.empty()) << "after the row: " << plain.error;
}

const Row kLoads[] = {
    {"NullBuffer", nullptr, [](IImageAIInference& o) { return o.LoadModel(nullptr, 0, -1, 3); }, kLoadOv, ""},
    {"NullBufferWithASize", nullptr, [](IImageAIInference& o) { return o.LoadModel(nullptr, 16, -1, 3); }, kLoadStd,
     "model_data is nullptr while model_size is 16."},
    {"RandomBytes", nullptr, [](IImageAIInference& o) { return LoadBytes(o, RandomBytes()); }, kLoadOv, ""},
    {"HalfAnOnnxFile", nullptr,
     [](IImageAIInference& o) {
         std::vector<char> bytes = ReadModel("detect_head");
         bytes.resize(bytes.size() / 2);
         return LoadBytes(o, bytes);
     },
     kLoadOv, ""},
    {"DeviceIndexBelowMinusThree", nullptr, LoadFile("two_inputs", -4), kLoadOv,
     "Device with \"\" name is not registered"},
    {"GpuIndexWithoutAGpu", nullptr, LoadFile("two_inputs", 7), kLoadOv, ""},
    {"NpuIndexWithoutAnNpu", nullptr, LoadFile("two_inputs", -2), kLoadOv, ""},
    {"NpuGpuCpuIndexWithoutNpuOrGpu", nullptr, LoadFile("two_inputs", -3), kLoadOv, ""},
};

// ONNX bytes on which OpenVINO 2024.5's ONNX reader takes the host process
// down, refused before the reader sees them: graphs out of topological order
// (the reader's sort dereferences null for an output no node produces, and
// allocates without end for a cycle), and nodes short of inputs or without
// outputs, whose translators read past them (found by the load fuzzer on
// Conv, then tried on every operator), at the top and in If branches. The
// graphs the reader can take are left to it.
const std::string kOutOfOrder = "the ONNX graph is not in topological order and ";
const std::string kNoProducer = kOutOfOrder + "its output \"z\" is produced by no node.";
const std::string kConvShort = "an ONNX Conv node has 1 input(s); the operator needs 2.";
const std::string kClipUnnamed = "an ONNX Clip node's first input has no name.";
const Row kOnnxGraphs[] = {
    {"UnsortableOutputProducedByNothing", nullptr, LoadFile("unsortable_output_produced_by_nothing"), kLoadStd,
     kNoProducer},
    {"UnsortableWithoutIrVersion", nullptr, LoadFile("unsortable_without_ir_version"), kLoadStd, kNoProducer},
    {"UnsortableAfterUnknownFields", nullptr, LoadFile("unsortable_after_unknown_fields"), kLoadStd, kNoProducer},
    {"UnsortableOutputIsAnInitializer", nullptr, LoadFile("unsortable_output_is_an_initializer"), kLoadStd,
     kOutOfOrder + "its output \"c\" is produced by no node."},
    {"NodesInACycle", nullptr, LoadFile("unsortable_cycle"), kLoadStd,
     kOutOfOrder + "its nodes form a cycle through \"a\"."},
    {"ConvWithoutWeights", nullptr, LoadFile("conv_without_weights"), kLoadStd, kConvShort},
    {"ConvWithoutOutputs", nullptr, LoadFile("conv_without_outputs"), kLoadStd, "an ONNX Conv node has no outputs."},
    {"ClipOfAnUnnamedInput", nullptr, LoadFile("clip_of_an_unnamed_input"), kLoadStd, kClipUnnamed},
    {"ConvWithoutWeightsInABranch", nullptr, LoadFile("conv_without_weights_in_a_branch"), kLoadStd, kConvShort},
    {"ClipInANestedBranch", nullptr, LoadFile("clip_in_a_nested_branch"), kLoadStd, kClipUnnamed},
    {"InOrderWithAnOutputNothingProduces", nullptr, LoadFile("ordered_output_produced_by_nothing"), kLoadOv, ""},
    {"IfsNestedDeeperThanProtobufReads", nullptr, LoadFile("ifs_nested_too_deep"), kLoadOv, ""},
    {"UnorderedNodesTheReaderSorts", nullptr, LoadFile("unordered_nodes"), kOk, ""},
    {"ValidBranches", nullptr, LoadFile("if_of_two_branches"), kOk, ""},
};

const Row kWithoutAModel[] = {
    {"MapOnANewObject", nullptr, [](IImageAIInference& o) { return Map(o, 8, 6, kTwo.data(), 8, 6); }, kRejected,
     "no model is loaded."},
    {"DetectAfterARelease", nullptr,
     [](IImageAIInference& o) {
         LoadBytes(o, ReadModel("detect_head"));
         o.ReleaseModel();
         return Detect(o, 8, 6);
     },
     kRejected, "no model is loaded."},
    {"TensorsAfterAFailedLoad", nullptr,
     [](IImageAIInference& o) {
         {
             StdoutCapture its_own_line;
             if (LoadBytes(o, RandomBytes())) return true;
         }
         return Tensors(o, kAB, kSums);
     },
     kRejected, "no model is loaded."},
    // The release forgets which ports held the host's buffers, with the request.
    {"TensorsAfterAReleaseNamingAHeldPortTwice", "two_inputs",
     [](IImageAIInference& o) {
         static float sum[4], difference[4];
         Tensors(o, kAB, {Sum({1, 4}, sum), Difference({1, 4}, difference)});
         o.ReleaseModel();
         return Tensors(o, {A(), A()}, kSums);
     },
     kRejected, "no model is loaded.", true},
    {"TensorsOnAModelWithoutInputs", nullptr,
     [](IImageAIInference& o) { return LoadBytes(o, ReadModel("no_inputs")) && Tensors(o, {A()}, {Sum({1, -1})}); },
     kInferOv, "set_input_tensor()"},
};

const Row kMap[] = {
    {"NullImage", "dynamic_conv", [](IImageAIInference& o) { return Map(o, 8, 6, kTwo.data(), 8, 6, nullptr); },
     kRejected, "input_data or output_data is nullptr."},
    {"NullMap", "dynamic_conv",
     [](IImageAIInference& o) { return Map(o, 8, 6, kTwo.data(), 8, 6, buffers.image.data(), nullptr); }, kRejected,
     "input_data or output_data is nullptr."},
    {"DescriptorCountsFiveChannelsForTwo", "dynamic_conv",
     [](IImageAIInference& o) { return Map(o, 8, 6, kFive.data(), 8, 6); }, kInferOv, "shape=(1.5.6.8)"},
    {"NullDescriptorOnATwoChannelModel", "dynamic_conv", [](IImageAIInference& o) { return Map(o, 8, 6, nullptr, 8, 6); },
     kInferOv, "shape=(1.3.6.8)"},
    {"MapNarrowerThanTheImage", "dynamic_conv", [](IImageAIInference& o) { return Map(o, 8, 6, kTwo.data(), 4, 6); },
     kInferOv, ""},
    {"MapWiderThanTheImage", "dynamic_conv", [](IImageAIInference& o) { return Map(o, 8, 6, kTwo.data(), 16, 6); },
     kOk, ""},
    {"ZeroWidth", "dynamic_conv", [](IImageAIInference& o) { return Map(o, 0, 6, kTwo.data(), 0, 6); }, kInferOv, "",
     true},
    {"ImageOverflowing64Bits", "dynamic_conv",
     [](IImageAIInference& o) { return Map(o, 0xFFFFFFFFu, 0xFFFFFFFFu, kTwo.data(), 8, 6); }, kRejected,
     "the input image overflows 64 bits (element or byte count)."},
    {"ChannelCountWrappingTo48Floats", "dynamic_conv",
     [](IImageAIInference& o) { return Map(o, 8, 6, kWrapping.data(), 8, 6); }, kRejected,
     "the output overflows 64 bits (element or byte count)."},
    {"MapOnATwoInputModel", "two_inputs", [](IImageAIInference& o) { return Map(o, 8, 6, kTwo.data(), 8, 6); },
     kInferOv, "set_input_tensor()"},
};

const Row kDetect[] = {
    {"NullCountPointer", "detect_head", [](IImageAIInference& o) { return Detect(o, 8, 6, buffers.image.data(), nullptr); },
     kRejected, "output_count, output_dim2 or output_dim1 is nullptr."},
    {"NullDetectImage", "detect_head", [](IImageAIInference& o) { return Detect(o, 8, 6, nullptr); }, kRejected,
     "input_data or output_data is nullptr."},
    {"DetectOnAMapModel", "dynamic_conv", [](IImageAIInference& o) { return Detect(o, 8, 6); }, kInferOv,
     "shape=(1.84.3)"},
    {"DetectImageOverflowing64Bits", "detect_head",
     [](IImageAIInference& o) { return Detect(o, 0xFFFFFFFFu, 0xFFFFFFFFu); }, kRejected,
     "the input image overflows 64 bits (element or byte count)."},
    {"EmptyDetectImage", "detect_head", [](IImageAIInference& o) { return Detect(o, 0, 0); }, kInferOv, "", true},
};

// In the order of precedence: inputs before outputs, record by record, and
// within a record name, dims, negative dims, data, type, overflow.
const Row kTensors[] = {
    {"NoInputs", "two_inputs", TensorsCall({}, kSums), kRejected, "inputs is empty."},
    {"NoInputsNoOutputs", "two_inputs", TensorsCall({}, {}), kRejected, "inputs is empty."},
    {"InvalidInputAndNoOutputs", "two_inputs", TensorsCall({A(), B({})}, {}), kRejected, "input.dims is empty."},
    {"NoOutputs", "two_inputs", TensorsCall(kAB, {}), kRejected, "outputs is empty."},
    {"UnnamedAmongTwoInputs", "two_inputs", TensorsCall({A(), Named("", {1, 4}, buffers.b)}, kSums), kRejected,
     "input.name is empty and inputs size > 1."},
    {"UnnamedWithEmptyDims", "two_inputs", TensorsCall({Named("", {}, buffers.a), B()}, kSums), kRejected,
     "input.name is empty and inputs size > 1."},
    {"EmptyDimsWithNullData", "two_inputs", TensorsCall({A({}, nullptr), B()}, kSums), kRejected,
     "input.dims is empty."},
    {"EmptyDimsBeforeLaterNullData", "two_inputs", TensorsCall({A({}), B({1, 4}, nullptr)}, kSums), kRejected,
     "input.dims is empty."},
    {"NullDataBeforeLaterEmptyDims", "two_inputs", TensorsCall({A({1, 4}, nullptr), B({})}, kSums), kRejected,
     "input.data is nullptr."},
    {"NegativeDimWithNullData", "two_inputs", TensorsCall({A({1, -4}, nullptr), B()}, kSums), kRejected,
     "input.dims has a negative value."},
    {"InputElementCountWrappingToFour", "two_inputs", TensorsCall({A({kWrapsToFour, 4}), B()}, kSums), kRejected,
     kInputOverflow},
    {"InputElementCountWrappingToZero", "two_inputs", TensorsCall({A({kTwoTo32, kTwoTo32}), B()}, kSums), kRejected,
     kInputOverflow},
    {"InputByteCountWrappingToFour", "two_inputs", TensorsCall({A({1, kWrapsToFour}), B()}, kSums), kRejected,
     kInputOverflow},
    {"UnnamedAmongTwoOutputs", "two_inputs", TensorsCall(kAB, {Sum(), Named("", {1, 4}, buffers.difference)}),
     kRejected, "output.name is empty and outputs size > 1."},
    {"NullOutputDataBeforeLaterEmptyDims", "two_inputs", TensorsCall(kAB, {Sum({1, 4}, nullptr), Difference({})}),
     kRejected, "output.dims is empty."},
    {"NullOutputData", "two_inputs", TensorsCall(kAB, {Sum(), Difference({1, 4}, nullptr)}), kRejected,
     "output.data is nullptr."},
    {"OutputDimsOverflowing64Bits", "two_inputs", TensorsCall(kAB, {Sum(), Difference({kWrapsToFour, 4})}), kRejected,
     "output.dims overflow 64 bits (element or byte count)."},
    {"TypeCodeTwelve", "two_inputs", TensorsCall({A(), Named("b", {1, 4}, buffers.b, 12)}, kSums), kInferStd,
     "Unknown DataType"},
    {"NegativeTypeCode", "two_inputs", TensorsCall(kAB, {Sum(), Named("difference", {1, 4}, buffers.difference, -1)}),
     kInferStd, "Unknown DataType"},
    {"UnknownInputName", "two_inputs", TensorsCall({A(), Named("c", {1, 4}, buffers.b)}, kSums), kInferOv,
     "Input for tensor name 'c'"},
    {"InputRecordNamedAfterAnOutput", "two_inputs", TensorsCall({A(), Named("sum", {1, 4}, buffers.b)}, kSums),
     kInferOv, "Input for tensor name 'sum'"},
    {"RuntimeOutputRecordNamedAfterAnInput", "two_inputs", TensorsCall(kAB, {Sum({1, -1}, nullptr), B({1, -1})}),
     kInferOv, "Output for tensor name 'b'"},
    {"I32RecordForAnF32Input", "two_inputs",
     TensorsCall({Named("a", {1, 4}, buffers.a_i32, DATA_TYPE_INT32), B()}, kSums), kInferOv, "precision: i32"},
    {"ShapeOneByThreeForOneByFour", "two_inputs", TensorsCall({A({1, 3}), B()}, kSums), kInferOv, ""},
    {"RankFiveForRankTwo", "two_inputs", TensorsCall({A({1, 1, 1, 1, 4}), B()}, kSums), kInferOv, ""},
    {"OneInputRecordForTwoInputs", "two_inputs", TensorsCall({A()}, kSums), kInferOv, "set_input_tensor()"},
    {"OneOutputRecordForTwoOutputs", "two_inputs", TensorsCall(kAB, {Sum()}), kInferOv, "set_output_tensor()"},
    {"SameInputNamedTwiceAfterTheOtherWasFreed", "two_inputs", AfterBAndDifferenceWereFreed({A(), A()}, kSums),
     kRejected, "input \"a\" is named twice."},
    {"SameOutputNamedTwiceAfterTheOtherWasFreed", "two_inputs", AfterBAndDifferenceWereFreed(kAB, {Sum(), Sum()}),
     kRejected, "output \"sum\" is named twice."},
    {"InputLeftOutAfterItsBufferWasFreed", "two_inputs",
     AfterBAndDifferenceWereFreed({A(), Named("c", {1, 4}, buffers.b)}, kSums), kRejected, "input \"b\"" + kHeld},
    {"OutputLeftOutAfterItsBufferWasFreed", "two_inputs",
     AfterBAndDifferenceWereFreed(kAB, {Sum(), Named("c", {1, 4}, buffers.difference)}), kRejected,
     "output \"difference\"" + kHeld},
    // Runtime-allocated outputs take a fresh request, which holds no buffer of
    // the host's: the name the model lacks is then the runtime's to refuse.
    {"OutputLeftOutAfterRuntimeOutputs", "two_inputs",
     [](IImageAIInference& o) {
         static float sum[4], difference[4];
         return Tensors(o, kAB, {Sum({1, 4}, sum), Difference({1, 4}, difference)}) &&
                Tensors(o, kAB, {Sum({1, -1}), Difference({1, -1})}) &&
                Tensors(o, kAB, {Sum(), Named("c", {1, 4}, buffers.difference)});
     },
     kInferOv, "Output for tensor name 'c'"},
    {"I32RecordForAnF32RuntimeOutput", "ragged_output",
     TensorsCall({Named("values", {1, 5}, buffers.values)}, {Named("doubled", {1, -1}, nullptr, DATA_TYPE_INT32)}),
     kInferOv, "pointer to i32"},
    {"I32RecordForAnF32OutputThatIsAnInput", "passthrough",
     TensorsCall(kPassthroughInputs, {Named("z", {1, 4}, buffers.a_i32, DATA_TYPE_INT32),
                                      Named("k", {2}, buffers.k, DATA_TYPE_INT64)}),
     kInferStd, "the buffer for output 'z' (i32 [1,4]) does not fit the model's output (f32 [1,4])."},
    {"LoneRuntimeOutputUnderAnyName", "ragged_output",
     TensorsCall({Named("values", {1, 5}, buffers.values)}, {Named("no such output", {1, -1}, nullptr)}), kOk, ""},
};

auto RowName = [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.label); };
INSTANTIATE_TEST_SUITE_P(Loads, BadInputs, ::testing::ValuesIn(kLoads), RowName);
INSTANTIATE_TEST_SUITE_P(OnnxGraphs, BadInputs, ::testing::ValuesIn(kOnnxGraphs), RowName);
INSTANTIATE_TEST_SUITE_P(WithoutAModel, BadInputs, ::testing::ValuesIn(kWithoutAModel), RowName);
INSTANTIATE_TEST_SUITE_P(Map, BadInputs, ::testing::ValuesIn(kMap), RowName);
INSTANTIATE_TEST_SUITE_P(Detect, BadInputs, ::testing::ValuesIn(kDetect), RowName);
INSTANTIATE_TEST_SUITE_P(Tensors, BadInputs, ::testing::ValuesIn(kTensors), RowName);

}  // namespace
