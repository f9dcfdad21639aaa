// The trace texts of one object's life, whole and in order: entry texts,
// the ports the load pipeline records, the compile rule, the rebuilds of the
// map and tensors forms, durations, a rejection's copy of its text, and the
// destructor's release.
#include <gtest/gtest.h>

#include <regex>

#include "test_support.h"

namespace {

// What the load pipeline traces for one side's single port.
std::vector<std::string> PortTexts(const std::string& kind, const std::string& name, std::vector<int64_t> dims) {
    std::vector<std::string> texts = {kind + "_node_dims size: 1", kind + "_shape, " + kind + "_names[i]: " + name,
                                      kind + "_shape, shape_size: 4, " + kind + "_shape: "};
    for (int64_t d : dims) texts.push_back(std::to_string(d));
    return texts;
}

std::vector<std::string> LoadTexts(int form, int64_t height, int64_t width) {
    const std::string load = "Tessarine::innerLoadModel(" + std::to_string(form) + ")";
    std::vector<std::string> texts = {load, "Tessarine::ReleaseModel()"};
    if (height) texts.insert(texts.end(), {"[OpenVINOInstance]Need Reshape model",
                                           "[OpenVINOInstance]Reshape model done, duration: Nms"});
    for (const auto& ports : {PortTexts("input", "image", {1, 3, height ? height : -1, width ? width : -1}),
                              PortTexts("output", "map", {1, 2, height ? height : -1, width ? width : -1})})
        texts.insert(texts.end(), ports.begin(), ports.end());
    texts.insert(texts.end(), {"Make CompiledModel, device_name: NPU, device_index: -2", load + " done, duration: Nms"});
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
    std::vector<std::string> seen;
    // The compiled model's supported properties ("NAME: value") are traced
    // in whatever number and order the runtime gives them.
    const std::regex property("^[A-Z][A-Z0-9_]*: .*"), duration("duration: [0-9]+ms$");
    for (const std::string& text : traces.Texts())
        if (!std::regex_match(text, property)) seen.push_back(std::regex_replace(text, duration, "duration: Nms"));

    std::vector<std::string> expected = {"Tessarine::LoadModel()"};
    auto append = [&](std::vector<std::string> texts) { expected.insert(expected.end(), texts.begin(), texts.end()); };
    append(LoadTexts(0, 0, 0));
    append({"Tessarine::GetInputShape()", "Tessarine::GetOutputShape()", "Tessarine::DoInference(0)",
            "Ready reload model, current_gpu_index: -2, new_inputWidth: 5, new_inputHeight: 4"});
    append(LoadTexts(0, 4, 5));
    append({"Tessarine::RebuildModel()", "Tessarine::DoInference(0) done, duration: Nms", "Tessarine::DoInference(2)",
            "Ready reload model, current_gpu_index: -2, new_inputWidth: 6, new_inputHeight: 3"});
    append(LoadTexts(1, 3, 6));
    append({"Tessarine::RebuildModel()", "Tessarine::DoInference(2) done, duration: Nms", "Tessarine::DoInference(1)",
            "input_data or output_data is nullptr.", "Tessarine::~Tessarine()", "Tessarine::ReleaseModel()"});
    EXPECT_EQ(seen, expected);
}

// An exception of a type outside std::exception meets the last of the four
// handlers. None of the runtime's is such; a trace observer that throws one
// on a rejection's text stands in for it.
TEST(Traces, ExceptionOfAnyOtherTypeGetsTheLastHandlersLine) {
    SetTraceObserver([](const std::string& text) {
        if (text == "input_data or output_data is nullptr.") throw 42;
    });
    ObjectPtr object = NewObject();
    const Outcome outcome = Capture(*object, [&] { return object->DoInference(5, 4, nullptr, nullptr, 5, 4, nullptr); });
    SetTraceObserver(nullptr);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "another exception error.");
    EXPECT_EQ(outcome.console, "[OpenVINOInstance]DoInference another exception error.");
}

}  // namespace
