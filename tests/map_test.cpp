// DoInference(0) on the CPU: one planar f32 image in, one planar f32 map out,
// both in the caller's memory, and a device that takes every size as it comes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "test_support.h"

namespace {

const auto kTwoChannels = Descriptor(2);

void ExpectValues(const std::vector<float>& actual, const std::vector<float>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_FLOAT_EQ(actual[i], expected[i]) << "at " << i;
}

class SingleInputOnCpu : public ::testing::Test {
protected:
    void Load(const std::string& name) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -1, 3)) << object_->GetLastErrorMessage();
    }

    // Output starts as NaN so that a value the run did not write fails.
    bool Infer(uint32_t width, uint32_t height, std::vector<float>& image, const void* desc, size_t channels,
             std::vector<float>& output, std::string& console) {
        output.assign(channels * width * height, NAN);
        StdoutCapture capture;
        const bool ran = object_->DoInference(width, height, image.data(), desc, width, height, output.data());
        console = capture.Text();
        return ran;
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

TEST_F(SingleInputOnCpu, WritesTheAnalyticMapIntoTheCallersBuffer) {
    Load("dynamic_conv");
    std::vector<float> image = Image(5, 4), output;
    std::string console;
    ASSERT_TRUE(Infer(5, 4, image, kTwoChannels.data(), 2, output, console)) << object_->GetLastErrorMessage();
    EXPECT_EQ(console, "");
    ExpectValues(output, DynamicConvMap(image));
}

TEST_F(SingleInputOnCpu, NullDescriptorBindsThreeChannels) {
    Load("any_batch");  // relu over [N, 3, H, W]: three output channels fit
    std::vector<float> image = Image(5, 4), output, expected(image.size());
    for (size_t i = 0; i < image.size(); ++i) expected[i] = std::max(image[i], 0.0f);
    std::string console;
    ASSERT_TRUE(Infer(5, 4, image, nullptr, 3, output, console)) << object_->GetLastErrorMessage();
    ExpectValues(output, expected);
}

TEST_F(SingleInputOnCpu, NullDescriptorOnATwoChannelModelFailsInTheRuntime) {
    Load("dynamic_conv");
    std::vector<float> image = Image(5, 4), output;
    std::string console;
    ASSERT_FALSE(Infer(5, 4, image, nullptr, 3, output, console));
    const std::string error = object_->GetLastErrorMessage();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(console, "[OpenVINOInstance]DoInference ov::Exception error: " + error);
    for (float value : output) EXPECT_TRUE(std::isnan(value));

    // The failure must not outlive the next success.
    ASSERT_TRUE(Infer(5, 4, image, kTwoChannels.data(), 2, output, console));
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
}

TEST_F(SingleInputOnCpu, NewSizeIsBoundToTheLoadedModelWithoutRebuild) {
    Load("dynamic_conv");
    const auto compiled = TessarineTestAccess::Compiled(AsTessarine(object_));
    TraceRecorder traces;
    for (auto [width, height] : {std::pair{5u, 4u}, {7u, 3u}, {2u, 9u}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        std::vector<float> image = Image(width, height, static_cast<float>(width)), output;
        std::string console;
        ASSERT_TRUE(Infer(width, height, image, kTwoChannels.data(), 2, output, console));
        EXPECT_EQ(console, "");
        ExpectValues(output, DynamicConvMap(image));
    }
    for (const std::string& text : traces.Texts()) EXPECT_NE(text.rfind("Ready reload model", 0), 0u) << text;
    EXPECT_FALSE(traces.Contains("Tessarine::RebuildModel()"));
    EXPECT_EQ(TessarineTestAccess::Compiled(AsTessarine(object_)), compiled);
    EXPECT_EQ(TessarineTestAccess::InputWidth(AsTessarine(object_)), -1);
}

// A call with the buffers the request already holds does not bind them again:
// their new contents must still be read, and other buffers of the same size
// must still be bound, with the old ones left alone.
TEST_F(SingleInputOnCpu, HeldBuffersAreReadAfreshAndOthersAreBound) {
    Load("dynamic_conv");
    std::vector<float> image = Image(5, 4), output(2 * 5 * 4, NAN);
    ASSERT_TRUE(object_->DoInference(5, 4, image.data(), kTwoChannels.data(), 5, 4, output.data()));
    image = Image(5, 4, 100);
    ASSERT_TRUE(object_->DoInference(5, 4, image.data(), kTwoChannels.data(), 5, 4, output.data()));
    ExpectValues(output, DynamicConvMap(image));

    const std::vector<float> kept = output;
    std::vector<float> other_image = Image(5, 4, -50), other_output(output.size(), NAN);
    ASSERT_TRUE(object_->DoInference(5, 4, other_image.data(), kTwoChannels.data(), 5, 4, other_output.data()));
    ExpectValues(other_output, DynamicConvMap(other_image));
    ExpectValues(output, kept);
}

// The runtime gives an output that is the input the input's memory: bound
// over the host's map, it took the image's place and was never written.
TEST_F(SingleInputOnCpu, ModelWhoseOutputIsItsInputFillsTheMap) {
    Load("identity_image");
    std::vector<float> image, output;
    for (float offset : {0.0f, 100.0f}) {
        image = Image(5, 4, offset);
        std::string console;
        ASSERT_TRUE(Infer(5, 4, image, nullptr, 3, output, console)) << object_->GetLastErrorMessage();
        ExpectValues(output, image);
    }
}

// A call that comes while the request still runs (started here behind the
// module's back) meets the runtime's ov::Busy, which has its own line; once
// the run is over, the next call is served.
TEST_F(SingleInputOnCpu, CallWhileTheRequestRunsIsBusy) {
    Load("dynamic_conv");
    std::vector<float> image = Image(2048, 2048), output;
    std::string console;
    ASSERT_TRUE(Infer(2048, 2048, image, kTwoChannels.data(), 2, output, console));
    ov::InferRequest& request = *TessarineTestAccess::Request(AsTessarine(object_));
    request.start_async();
    const bool ran = Infer(2048, 2048, image, kTwoChannels.data(), 2, output, console);
    request.wait();
    EXPECT_FALSE(ran);
    EXPECT_EQ(console, "[OpenVINOInstance]DoInference ov::Busy error: " + object_->GetLastErrorMessage());
    ASSERT_TRUE(Infer(2048, 2048, image, kTwoChannels.data(), 2, output, console)) << object_->GetLastErrorMessage();
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
}

TEST_F(SingleInputOnCpu, WithoutARequestNothingRuns) {
    for (bool loaded_then_released : {false, true}) {
        SCOPED_TRACE(loaded_then_released ? "released" : "never loaded");
        if (loaded_then_released) {
            Load("dynamic_conv");
            object_->ReleaseModel();
        }
        std::vector<float> image = Image(5, 4), output;
        std::string console;
        EXPECT_FALSE(Infer(5, 4, image, kTwoChannels.data(), 2, output, console));
        EXPECT_EQ(console, "[OpenVINOInstance]DoInference error: no model is loaded.");
        EXPECT_EQ(object_->GetLastErrorMessage(), "no model is loaded.");
        for (float value : output) EXPECT_TRUE(std::isnan(value));
    }
}

TEST_F(SingleInputOnCpu, NullBuffersAreRejectedBeforeAnythingIsWritten) {
    Load("dynamic_conv");
    std::vector<float> image = Image(5, 4), output(2 * 5 * 4, NAN);
    for (bool null_input : {true, false}) {
        SCOPED_TRACE(null_input ? "null input_data" : "null output_data");
        std::string console;
        bool ran;
        {
            StdoutCapture capture;
            ran = object_->DoInference(5u, 4u, null_input ? nullptr : image.data(), kTwoChannels.data(), 5u, 4u,
                                       null_input ? output.data() : nullptr);
            console = capture.Text();
        }
        EXPECT_FALSE(ran);
        EXPECT_EQ(console, "[OpenVINOInstance]DoInference error: input_data or output_data is nullptr.");
        EXPECT_EQ(object_->GetLastErrorMessage(), "input_data or output_data is nullptr.");
    }
    for (float value : output) EXPECT_TRUE(std::isnan(value));
}

}  // namespace
