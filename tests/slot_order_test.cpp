// The production library as the host application drives it: opened by path,
// its two exports found by name, every operation called through its position
// in the virtual table (a reordered declaration lands a call on another
// operation), and the object destroyed through ReleaseModule.

#include "test_support.h"

#ifndef __GXX_ABI_VERSION
#error "the table entries below follow the Itanium C++ ABI"
#endif

namespace {

// Entries 0 and 1 are the two destructors, so slot k >= 1 is entry k + 1.
// References travel as pointers, a std::string result through the hidden
// return pointer, as declared here.
template <class Fn>
Fn Slot(IImageAIInference* object, size_t slot) {
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[slot + 1]);
}
using LoadSlot = bool (*)(void*, const void*, uint64_t, int32_t, uint32_t);
using ShapeSlot = uint32_t (*)(void*, uint32_t, int64_t*, int64_t*, int64_t*, int64_t*, int64_t*);
using MapSlot = bool (*)(void*, uint32_t, uint32_t, void*, const void*, uint32_t, uint32_t, void*);
using DetectSlot = bool (*)(void*, uint32_t, uint32_t, void*, void*, uint64_t*, uint64_t*, uint64_t*);

TEST(ProductionLibrary, ServesEachOperationFromItsSlot) {
    ObjectPtr owner = NewHostObject();
    IImageAIInference* object = owner.get();
    const std::vector<char> conv = ReadModel("dynamic_conv"), head = ReadModel("detect_head");
    ASSERT_TRUE(Slot<LoadSlot>(object, 1)(object, conv.data(), conv.size(), -1, 3));
    for (const auto& [slot, channels] : {std::pair{6, 3}, {7, 2}}) {  // input and output differ in channels only
        int64_t d[4] = {};
        EXPECT_EQ(Slot<ShapeSlot>(object, slot)(object, 0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
        EXPECT_EQ(std::vector<int64_t>(d, d + 4), (std::vector<int64_t>{1, channels, -1, -1})) << "slot " << slot;
    }
    // The channel count at byte 40 of the descriptor is written by hand: this
    // is where the boundary fact itself is pinned.
    uint64_t desc[8] = {};
    desc[5] = 2;
    std::vector<float> image = {1, 2, 3, 4, 10, 20, 30, 40, -1, -2, -3, -4}, map(8);
    ASSERT_TRUE(Slot<MapSlot>(object, 5)(object, 2, 2, image.data(), desc, 2, 2, map.data()));
    EXPECT_EQ(map, (std::vector<float>{10, 20, 30, 40, 3.5f, 6.5f, 9.5f, 12.5f}));

    const std::vector<TensorData> none;
    std::vector<TensorData> outputs;
    StdoutCapture quiet;
    EXPECT_FALSE(Slot<bool (*)(void*, const void*, void*)>(object, 3)(object, &none, &outputs));
    EXPECT_EQ(Slot<std::string (*)(void*)>(object, 8)(object), "inputs is empty.");

    ASSERT_TRUE(Slot<LoadSlot>(object, 1)(object, head.data(), head.size(), -1, 3));
    std::vector<float> picture(3 * 64 * 32, 0.5f), output(84 * 42);  // 64 x 32: 8 x 4 + 4 x 2 + 2 x 1 cells
    uint64_t dims[3] = {};
    ASSERT_TRUE(
        Slot<DetectSlot>(object, 4)(object, 64, 32, picture.data(), output.data(), &dims[0], &dims[1], &dims[2]));
    EXPECT_EQ(std::vector<uint64_t>(dims, dims + 3), (std::vector<uint64_t>{84 * 42, 42, 84}));

    Slot<void (*)(void*)>(object, 2)(object);  // ReleaseModel
    EXPECT_FALSE(Slot<MapSlot>(object, 5)(object, 2, 2, image.data(), desc, 2, 2, map.data()));
    const std::weak_ptr<ov::Core> core = static_cast<Tessarine*>(object)->core;
    ASSERT_FALSE(core.expired());
    owner.reset();
    EXPECT_TRUE(core.expired());
}

}  // namespace
