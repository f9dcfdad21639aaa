// The trace texts of one object's life, whole and in order: entry texts, the
// ports the load pipeline records, the compile rule, the rebuilds of the map
// and tensors forms, durations, a rejection's copy of its text, and the
// destructor's release.
#include <regex>

#include "test_support.h"

namespace {

// What one load of dynamic_conv on device -2 traces: the ports as read (or
// as reshaped to height x width), the compile, the duration.
std::vector<std::string> LoadTexts(int form, int64_t height = -1, int64_t width = -1) {
    const std::string load = "Tessarine::innerLoadModel(" + std::to_string(form) + ")";
    std::vector<std::string> texts = {load, "Tessarine::ReleaseModel()"};
    if (height > 0)
        texts.insert(texts.end(),
                     {"[OpenVINOInstance]Need Reshape model", "[OpenVINOInstance]Reshape model done, duration: Nms"});
    using Port = std::tuple<std::string, std::string, int>;
    for (const auto& [kind, name, channels] : {Port{"input", "image", 3}, Port{"output", "map", 2}})
        texts.insert(texts.end(), {kind + "_node_dims size: 1", kind + "_shape, " + kind + "_names[i]: " + name,
                                   kind + "_shape, shape_size: 4, " + kind + "_shape: ", "1", std::to_string(channels),
                                   std::to_string(height), std::to_string(width)});
    texts.insert(texts.end(),
                 {"Make CompiledModel, device_name: NPU, device_index: -2", load + " done, duration: Nms"});
    return texts;
}

TEST(Traces, TellAnObjectsLifeInOrder) {
    const std::vector<char> model = ReadModel("dynamic_conv");
    std::vector<float> image = Image(5, 4), map(2 * 5 * 4), again = Image(6, 3), map_again(2 * 6 * 3);
    const auto desc = Descriptor(2);
    std::vector<TensorData> outputs = {Record("", {1, 2, 3, 6}, map_again.data())};
    TraceRecorder traces;
    {
        ObjectPtr object = NewObject();
        AsTessarine(object).core = CoreWithNpuDouble();
        StdoutCapture quiet;
        ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -2, 3)) << object->GetLastErrorMessage();
        object->GetInputShape(0, nullptr, nullptr, nullptr, nullptr, nullptr);
        object->GetOutputShape(0, nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(object->DoInference(5, 4, image.data(), desc.data(), 5, 4, map.data()));
        ASSERT_TRUE(object->DoInference({Record("", {1, 3, 3, 6}, again.data())}, outputs));
        uint64_t count, dim2, dim1;
        EXPECT_FALSE(object->DoInference(5, 4, nullptr, map.data(), &count, &dim2, &dim1));
    }
    // The compiled model's supported properties ("NAME: value") come in
    // whatever number and order the runtime gives them.
    std::vector<std::string> seen;
    for (const std::string& text : traces.texts)
        if (!std::regex_match(text, std::regex("[A-Z][A-Z0-9_]*: .*")))
            seen.push_back(std::regex_replace(text, std::regex("duration: [0-9]+ms$"), "duration: Nms"));
    std::vector<std::string> expected = {"Tessarine::LoadModel()"};
    for (const std::vector<std::string>& part :
         {LoadTexts(0),
          {"Tessarine::GetInputShape()", "Tessarine::GetOutputShape()", "Tessarine::DoInference(0)",
           "Ready reload model, current_gpu_index: -2, new_inputWidth: 5, new_inputHeight: 4"},
          LoadTexts(0, 4, 5),
          {"Tessarine::RebuildModel()", "Tessarine::DoInference(0) done, duration: Nms", "Tessarine::DoInference(2)",
           "Ready reload model, current_gpu_index: -2, new_inputWidth: 6, new_inputHeight: 3"},
          LoadTexts(1, 3, 6),
          {"Tessarine::RebuildModel()", "Tessarine::DoInference(2) done, duration: Nms", "Tessarine::DoInference(1)",
           "input_data or output_data is nullptr.", "Tessarine::~Tessarine()", "Tessarine::ReleaseModel()"}})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(seen, expected);
}

// An exception of a type outside std::exception meets the last of the four
// handlers. None of the runtime's is such; a trace observer that throws one
// on a rejection's text stands in for it.
TEST(Traces, ExceptionOfAnyOtherTypeGetsTheLastHandlersLine) {
    ObjectPtr object = NewObject();
    SetTraceObserver([](const std::string& text) {
        if (text == "input_data or output_data is nullptr.") throw 42;
    });
    StdoutCapture console;
    EXPECT_FALSE(object->DoInference(5u, 4u, nullptr, nullptr, 5u, 4u, nullptr));
    SetTraceObserver(nullptr);
    EXPECT_EQ(object->GetLastErrorMessage(), "another exception error.");
    EXPECT_EQ(console.Text(), "[OpenVINOInstance]DoInference another exception error.");
}

}  // namespace
