// The production library as the host application drives it: opened by path,
// its two exports found by name, and every operation called through its
// position in the virtual table, so that a reordered declaration lands a
// call on another operation.
#include <gtest/gtest.h>

#include "test_support.h"

#ifndef __GXX_ABI_VERSION
#error "the table entries below follow the Itanium C++ ABI"
#endif

namespace {

// Entries 0 and 1 are the complete and the deleting destructor, so slot k >= 1
// is entry k + 1. References travel as pointers, a std::string result through
// the hidden return pointer, as declared here.
template <class Fn>
Fn Entry(IImageAIInference* object, size_t entry) {
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[entry]);
}
using LoadSlot = bool (*)(void*, const void*, uint64_t, int32_t, uint32_t);
using ShapeSlot = uint32_t (*)(void*, uint32_t, int64_t*, int64_t*, int64_t*, int64_t*, int64_t*);
using TensorsSlot = bool (*)(void*, const std::vector<TensorData>*, std::vector<TensorData>*);
using DetectSlot = bool (*)(void*, uint32_t, uint32_t, void*, void*, uint64_t*, uint64_t*, uint64_t*);
using MapSlot = bool (*)(void*, uint32_t, uint32_t, void*, const void*, uint32_t, uint32_t, void*);

TEST(ProductionLibrary, ServesEachOperationFromItsSlot) {
    ObjectPtr owner = NewHostObject();
    IImageAIInference* object = owner.get();
    const std::vector<char> conv = ReadModel("dynamic_conv"), head = ReadModel("detect_head");
    ASSERT_TRUE(Entry<LoadSlot>(object, 2)(object, conv.data(), conv.size(), -1, 3));
    // dynamic_conv's input and output differ only in their channel count.
    for (const auto& [entry, channels] : {std::pair{7, 3}, {8, 2}}) {
        int64_t d[4] = {};
        EXPECT_EQ(Entry<ShapeSlot>(object, entry)(object, 0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
        EXPECT_EQ(std::vector<int64_t>(d, d + 4), (std::vector<int64_t>{1, channels, -1, -1})) << "entry " << entry;
    }
    // The channel count sits at byte 40 of the descriptor: written by hand,
    // since this is where the boundary fact itself is pinned.
    uint64_t desc[8] = {};
    desc[5] = 2;
    std::vector<float> image = {1, 2, 3, 4, 10, 20, 30, 40, -1, -2, -3, -4}, map(8);
    ASSERT_TRUE(Entry<MapSlot>(object, 6)(object, 2, 2, image.data(), desc, 2, 2, map.data()));
    EXPECT_EQ(map, (std::vector<float>{10, 20, 30, 40, 3.5f, 6.5f, 9.5f, 12.5f}));

    const std::vector<TensorData> none;
    std::vector<TensorData> outputs;
    StdoutCapture quiet;
    EXPECT_FALSE(Entry<TensorsSlot>(object, 4)(object, &none, &outputs));
    EXPECT_EQ(Entry<std::string (*)(void*)>(object, 9)(object), "inputs is empty.");

    ASSERT_TRUE(Entry<LoadSlot>(object, 2)(object, head.data(), head.size(), -1, 3));
    std::vector<float> picture(3 * 64 * 32, 0.5f), output(84 * 42);
    uint64_t count = 0, dim2 = 0, dim1 = 0;  // 64 x 32: 8 x 4 + 4 x 2 + 2 x 1 cells
    ASSERT_TRUE(Entry<DetectSlot>(object, 5)(object, 64, 32, picture.data(), output.data(), &count, &dim2, &dim1));
    EXPECT_EQ(std::vector<uint64_t>({count, dim2, dim1}), (std::vector<uint64_t>{84 * 42, 42, 84}));

    Entry<void (*)(void*)>(object, 3)(object);  // ReleaseModel
    EXPECT_FALSE(Entry<MapSlot>(object, 6)(object, 2, 2, image.data(), desc, 2, 2, map.data()));
    // Were the destructor declared anywhere else, entry 1 would be another
    // operation, and none of them drops the core.
    const std::weak_ptr<ov::Core> core = static_cast<Tessarine*>(object)->core;
    ASSERT_FALSE(core.expired());
    Entry<void (*)(void*)>(object, 1)(owner.release());
    EXPECT_TRUE(core.expired());
}

}  // namespace
