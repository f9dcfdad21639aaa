// The map form on the CPU: one planar f32 image in, one planar f32 map out,
// both in the host's memory, at whatever size the host calls with.
#include <cmath>
#include <tuple>

#include "test_support.h"

namespace {

class MapOnCpu : public ModuleTest {
protected:
    Outcome MapInto(uint32_t width, uint32_t height, float* image, float* map, uint64_t channels = 2) {
        const auto desc = Descriptor(channels);
        return Run([&] { return object_->DoInference(width, height, image, desc.data(), width, height, map); });
    }
};

// The same two buffers serve every size: the request already holds views of
// them, which must be bound again when the shape changes, and read afresh
// when only their contents do. Other buffers are bound, the held ones left.
TEST_F(MapOnCpu, WritesEachSizeIntoTheHostsBufferWithoutRebuild) {
    Load("dynamic_conv");
    const auto compiled = O().compiled_model;
    std::vector<float> image(3 * 7 * 9), map(2 * 7 * 9);
    for (const auto& [width, height, offset] :
         {std::tuple{5u, 4u, 0.f}, {5u, 4u, 50.f}, {7u, 3u, 0.f}, {2u, 9u, 1.f}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const std::vector<float> pixels = Image(width, height, offset);
        std::copy(pixels.begin(), pixels.end(), image.begin());
        std::fill(map.begin(), map.end(), 1e30f);  // a value no run writes
        const Outcome outcome = MapInto(width, height, image.data(), map.data());
        ASSERT_TRUE(outcome.ok && outcome.console.empty() && outcome.Traced("Ready reload model") == 0)
            << outcome.error;
        EXPECT_EQ(std::vector<float>(map.begin(), map.begin() + 2 * width * height), DynamicConvMap(pixels));
    }
    std::vector<float> other_image = Image(2, 9, -5), other_map(2 * 2 * 9);
    const std::vector<float> held_map = map;
    ASSERT_TRUE(MapInto(2, 9, other_image.data(), other_map.data()).ok);
    EXPECT_EQ(other_map, DynamicConvMap(other_image));
    EXPECT_EQ(map, held_map);
    EXPECT_EQ(O().compiled_model, compiled);
}

// The runtime gives an output that is the input the input's memory: bound
// over the host's map, it took the image's place and was never written.
TEST_F(MapOnCpu, OutputThatIsTheInputIsDelivered) {
    Load("identity_image");
    for (float offset : {0.0f, 100.0f}) {
        std::vector<float> image = Image(5, 4, offset), map(image.size(), NAN);
        ASSERT_TRUE(MapInto(5, 4, image.data(), map.data(), 3).ok) << object_->GetLastErrorMessage();
        EXPECT_EQ(map, image);
    }
}

// A call that comes while the request still runs (started here behind the
// module's back) meets the runtime's ov::Busy, which has its own line.
TEST_F(MapOnCpu, CallWhileTheRequestRunsMeetsBusy) {
    Load("dynamic_conv");
    std::vector<float> image = Image(2048, 2048), map(2 * 2048 * 2048);
    ASSERT_TRUE(MapInto(2048, 2048, image.data(), map.data()).ok);
    const auto request = O().infer_request;
    request->start_async();
    const Outcome busy = MapInto(2048, 2048, image.data(), map.data());
    request->wait();
    EXPECT_FALSE(busy.ok);
    EXPECT_EQ(busy.console, "[OpenVINOInstance]DoInference ov::Busy error: " + busy.error);
    const Outcome after = MapInto(2048, 2048, image.data(), map.data());
    EXPECT_TRUE(after.ok && after.error.empty()) << after.error;  // a success clears the error
}

}  // namespace
