// The two code families: one table each, unknown DataType is an error,
// unknown precision is f32.
#include <gtest/gtest.h>

#include <stdexcept>

#include "test_support.h"

namespace {

struct CodeCase {
    int32_t code;
    ov::element::Type type;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.code << " -> " << c.type; }

class DataTypeCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(DataTypeCodes, MapToTheirElementType) {
    EXPECT_EQ(Tessarine::DataTypeToElementType(GetParam().code), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    AllTwelve, DataTypeCodes,
    ::testing::Values(CodeCase{0, ov::element::boolean}, CodeCase{1, ov::element::i8}, CodeCase{2, ov::element::u8},
                      CodeCase{3, ov::element::i16}, CodeCase{4, ov::element::u16}, CodeCase{5, ov::element::i32},
                      CodeCase{6, ov::element::u32}, CodeCase{7, ov::element::i64}, CodeCase{8, ov::element::u64},
                      CodeCase{9, ov::element::f16}, CodeCase{10, ov::element::f32},
                      CodeCase{11, ov::element::f64}));

TEST(DataTypeCodesOutsideTable, ThrowUnknownDataType) {
    for (int32_t code : {12, -1, 255, INT32_MIN}) {
        try {
            Tessarine::DataTypeToElementType(code);
            ADD_FAILURE() << "code " << code << " was accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Unknown DataType");
        }
    }
}

class PrecisionCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(PrecisionCodes, MapToTheirElementType) {
    EXPECT_EQ(Tessarine::PrecisionToElementType(GetParam().code), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    AllSeventeenAndOutside, PrecisionCodes,
    ::testing::Values(CodeCase{0, ov::element::boolean}, CodeCase{1, ov::element::f8e4m3},
                      CodeCase{2, ov::element::f16}, CodeCase{3, ov::element::f32}, CodeCase{4, ov::element::f64},
                      CodeCase{5, ov::element::bf16}, CodeCase{6, ov::element::f32}, CodeCase{7, ov::element::i4},
                      CodeCase{8, ov::element::i8}, CodeCase{9, ov::element::i16}, CodeCase{10, ov::element::i32},
                      CodeCase{11, ov::element::i64}, CodeCase{12, ov::element::u4}, CodeCase{13, ov::element::u8},
                      CodeCase{14, ov::element::u16}, CodeCase{15, ov::element::u32},
                      CodeCase{16, ov::element::u64}, CodeCase{17, ov::element::f32},
                      CodeCase{-1, ov::element::f32}, CodeCase{INT32_MAX, ov::element::f32}));

TEST(CodeFamilies, NumberTheSameTypeDifferently) {
    EXPECT_EQ(Tessarine::DataTypeToElementType(2), Tessarine::PrecisionToElementType(13));
    EXPECT_NE(Tessarine::DataTypeToElementType(2), Tessarine::PrecisionToElementType(2));
}

TEST(PrecisionCode, IsStoredByLoadAndDefaultsToF32) {
    ObjectPtr object = NewObject();
    EXPECT_EQ(TessarineTestAccess::PrecisionCode(AsTessarine(object)), 3u);
    const std::vector<char> model = ReadModel("static_head");
    ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -1, 17));
    EXPECT_EQ(TessarineTestAccess::PrecisionCode(AsTessarine(object)), 17u);
    object->ReleaseModel();
    EXPECT_EQ(TessarineTestAccess::PrecisionCode(AsTessarine(object)), 17u);
}

}  // namespace
