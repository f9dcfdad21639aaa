// The host binds every operation by its position in the virtual table, so the
// calls here go through raw table entries of an object made by the production
// library: any reordering of the interface's declarations lands a call on the
// wrong operation and fails.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "test_support.h"

#ifndef __GXX_ABI_VERSION
#error "the table entries below follow the Itanium C++ ABI"
#endif

namespace {

// Itanium ABI: entries 0 and 1 are the complete and the deleting destructor,
// so interface slot k >= 1 is entry k + 1. References travel as pointers and a
// std::string result through the hidden return pointer, as declared here.
using DeletingDestructor = void (*)(void*);
using LoadModelSlot = bool (*)(void*, const void*, uint64_t, int32_t, uint32_t);
using ReleaseModelSlot = void (*)(void*);
using NamedSlot = bool (*)(void*, const std::vector<TensorData>*, std::vector<TensorData>*);
using CallerTensorsSlot = bool (*)(void*, uint32_t, uint32_t, void*, void*, uint64_t*, uint64_t*, uint64_t*);
using SingleInputSlot = bool (*)(void*, uint32_t, uint32_t, void*, const void*, uint32_t, uint32_t, void*);
using ShapeSlot = uint32_t (*)(void*, uint32_t, int64_t*, int64_t*, int64_t*, int64_t*, int64_t*);
using LastErrorSlot = std::string (*)(void*);

class SlotOrder : public ::testing::Test {
protected:
    void SetUp() override {
        // Never closed: the library's code must outlive every object it made.
        void* library = dlopen(TESSARINE_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto init = reinterpret_cast<IImageAIInference* (*)()>(dlsym(library, "InitModule"));
        auto release = reinterpret_cast<void (*)(IImageAIInference*)>(dlsym(library, "ReleaseModule"));
        ASSERT_TRUE(init && release);
        object_ = ObjectPtr(init(), release);
    }

    template <class Fn>
    Fn Entry(size_t entry) {
        return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object_.get()))[entry]);
    }
    template <class Fn>
    Fn Slot(size_t slot) {
        return Entry<Fn>(slot + 1);
    }

    void Load(const std::string& name) {
        model_ = ReadModel(name);
        ASSERT_TRUE(Slot<LoadModelSlot>(1)(object_.get(), model_.data(), model_.size(), -1, 3));
    }

    bool RunSingleInput(std::vector<float>& image, std::vector<float>& map) {
        uint64_t desc[8] = {};
        desc[5] = 2;  // the channel count sits at byte 40
        return Slot<SingleInputSlot>(5)(object_.get(), 2, 2, image.data(), desc, 2, 2, map.data());
    }

    ObjectPtr object_{nullptr, ReleaseModule};
    std::vector<char> model_;
};

// dynamic_conv's input and output differ only in their channel count.
TEST_F(SlotOrder, ShapeSlotsTellInputFromOutput) {
    Load("dynamic_conv");
    int64_t d[4] = {0, 0, 0, 0};
    EXPECT_EQ(Slot<ShapeSlot>(6)(object_.get(), 0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
    EXPECT_EQ(std::vector<int64_t>(d, d + 4), (std::vector<int64_t>{1, 3, -1, -1}));
    EXPECT_EQ(Slot<ShapeSlot>(7)(object_.get(), 0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
    EXPECT_EQ(std::vector<int64_t>(d, d + 4), (std::vector<int64_t>{1, 2, -1, -1}));
}

TEST_F(SlotOrder, NamedTensorSlotRejectsEmptyInputsAndErrorSlotReportsIt) {
    Load("dynamic_conv");
    const std::vector<TensorData> inputs;
    std::vector<TensorData> outputs;
    StdoutCapture capture;
    EXPECT_FALSE(Slot<NamedSlot>(3)(object_.get(), &inputs, &outputs));
    EXPECT_EQ(capture.Text(), "[OpenVINOInstance]DoInference error: inputs is empty.");
    EXPECT_EQ(Slot<LastErrorSlot>(8)(object_.get()), "inputs is empty.");
}

TEST_F(SlotOrder, CallerTensorSlotReportsTheDetectionLayout) {
    Load("detect_head");
    const uint64_t cells = 8 * 4 + 4 * 2 + 2 * 1;  // 64 x 32 at strides 8, 16 and 32
    std::vector<float> image(3 * 64 * 32, 0.5f), output(84 * cells);
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    ASSERT_TRUE(Slot<CallerTensorsSlot>(4)(object_.get(), 64, 32, image.data(), output.data(), &count, &dim2,
                                           &dim1));
    EXPECT_EQ(count, 84 * cells);
    EXPECT_EQ(dim2, cells);
    EXPECT_EQ(dim1, 84u);
}

TEST_F(SlotOrder, SingleInputSlotWritesTheMap) {
    Load("dynamic_conv");
    std::vector<float> image = {1, 2, 3, 4, 10, 20, 30, 40, -1, -2, -3, -4}, map(8, NAN);
    ASSERT_TRUE(RunSingleInput(image, map));
    EXPECT_EQ(map, (std::vector<float>{10, 20, 30, 40, 3.5f, 6.5f, 9.5f, 12.5f}));
}

TEST_F(SlotOrder, ReleaseSlotLeavesNothingToRun) {
    Load("dynamic_conv");
    Slot<ReleaseModelSlot>(2)(object_.get());
    std::vector<float> image(12, 1.0f), map(8);
    StdoutCapture capture;
    EXPECT_FALSE(RunSingleInput(image, map));
    EXPECT_EQ(capture.Text(), "[OpenVINOInstance]DoInference error: no model is loaded.");
    EXPECT_EQ(Slot<LastErrorSlot>(8)(object_.get()), "no model is loaded.");
}

// Were the destructor declared anywhere else, entry 1 would be another
// operation, and none of them drops the core.
TEST_F(SlotOrder, DestructorSlotDestroysTheObject) {
    Load("dynamic_conv");
    const std::weak_ptr<ov::Core> core = TessarineTestAccess::Core(*static_cast<Tessarine*>(object_.get()));
    ASSERT_FALSE(core.expired());
    Entry<DeletingDestructor>(1)(object_.release());
    EXPECT_TRUE(core.expired());
}

// The host lays the record out itself, so its offsets are part of the
// boundary as much as the slot order is (for MSVC's standard library, see
// tests/abi/check_interface_layout.py).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
TEST(TensorDataLayout, FieldsFollowTheNameAtFixedOffsets) {
    constexpr size_t s = sizeof(std::string);
    EXPECT_EQ(offsetof(TensorData, name), 0u);
    EXPECT_EQ(offsetof(TensorData, type), s);
    EXPECT_EQ(offsetof(TensorData, dims), s + 8);
    EXPECT_EQ(offsetof(TensorData, data), s + 32);
    EXPECT_EQ(offsetof(TensorData, size), s + 40);
    EXPECT_EQ(offsetof(TensorData, reserved), s + 48);
    EXPECT_EQ(sizeof(TensorData), s + 56);
}
#pragma GCC diagnostic pop

}  // namespace
