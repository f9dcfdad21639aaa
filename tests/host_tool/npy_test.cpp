// .npy files as the tensors mode reads and writes them.
#include "npy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string TempPath(const char* name) { return testing::TempDir() + name; }

TEST(Npy, WritesWhatItReadsBack) {
    const int64_t values[6] = {1, -2, 3, -4, 5, 1LL << 40};
    const std::string path = TempPath("round_trip.npy");
    WriteNpy(path, KindByName("i64"), {2, 3}, values);
    const NpyArray array = ReadNpy(path);
    EXPECT_STREQ(array.kind->name, "i64");
    EXPECT_EQ(array.kind->data_type, 7);
    EXPECT_EQ(array.shape, (std::vector<int64_t>{2, 3}));
    ASSERT_EQ(array.bytes.size(), sizeof values);
    EXPECT_EQ(std::memcmp(array.bytes.data(), values, sizeof values), 0);
}

TEST(Npy, AlignsTheDataTo64Bytes) {
    const float value = 1.5f;
    const std::string path = TempPath("aligned.npy");
    WriteNpy(path, KindByName("f32"), {1}, &value);
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const long size = static_cast<long>(in.tellg());
    EXPECT_GT(size, 4);
    EXPECT_EQ((size - 4) % 64, 0);
}

TEST(Npy, MapsDescrsToDataTypeCodes) {
    EXPECT_EQ(KindByDescr("<f4").data_type, 10);
    EXPECT_EQ(KindByDescr("|u1").data_type, 2);
    EXPECT_EQ(KindByDescr("|b1").data_type, 0);
    EXPECT_EQ(KindByDescr("<f2").data_type, 9);
    EXPECT_THROW(KindByDescr(">f4"), std::invalid_argument);
    EXPECT_THROW(KindByDescr("<c8"), std::invalid_argument);
}

TEST(Npy, RejectsAFileThatIsNotNpy) {
    const std::string path = TempPath("not.npy");
    std::ofstream(path) << "plain text, not an array";
    EXPECT_THROW(ReadNpy(path), std::runtime_error);
}

}  // namespace
