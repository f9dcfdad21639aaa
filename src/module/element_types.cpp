// The two code families that name element types across the interface. They
// number the types differently and treat unknown codes differently: an
// unknown DataType is the host's error, an unknown precision means f32.
#include <stdexcept>

#include "module/tessarine.h"

namespace {

struct CodeEntry {
    uint32_t code;
    ov::element::Type_t type;
};

constexpr CodeEntry kDataTypes[] = {
    {DATA_TYPE_BOOL, ov::element::Type_t::boolean},
    {DATA_TYPE_INT8, ov::element::Type_t::i8},
    {DATA_TYPE_UINT8, ov::element::Type_t::u8},
    {DATA_TYPE_INT16, ov::element::Type_t::i16},
    {DATA_TYPE_UINT16, ov::element::Type_t::u16},
    {DATA_TYPE_INT32, ov::element::Type_t::i32},
    {DATA_TYPE_UINT32, ov::element::Type_t::u32},
    {DATA_TYPE_INT64, ov::element::Type_t::i64},
    {DATA_TYPE_UINT64, ov::element::Type_t::u64},
    {DATA_TYPE_FLOAT16, ov::element::Type_t::f16},
    {DATA_TYPE_FLOAT32, ov::element::Type_t::f32},
    {DATA_TYPE_FLOAT64, ov::element::Type_t::f64},
};

constexpr CodeEntry kPrecisions[] = {
    {0, ov::element::Type_t::boolean}, {1, ov::element::Type_t::f8e4m3}, {2, ov::element::Type_t::f16},
    {3, ov::element::Type_t::f32},     {4, ov::element::Type_t::f64},    {5, ov::element::Type_t::bf16},
    {6, ov::element::Type_t::f32},     {7, ov::element::Type_t::i4},     {8, ov::element::Type_t::i8},
    {9, ov::element::Type_t::i16},     {10, ov::element::Type_t::i32},   {11, ov::element::Type_t::i64},
    {12, ov::element::Type_t::u4},     {13, ov::element::Type_t::u8},    {14, ov::element::Type_t::u16},
    {15, ov::element::Type_t::u32},    {16, ov::element::Type_t::u64},
};

template <size_t N>
const CodeEntry* Find(const CodeEntry (&table)[N], int32_t code) {
    // Codes arrive as 32-bit integers; a negative one is simply not in the table.
    const auto key = static_cast<uint32_t>(code);
    for (const CodeEntry& entry : table)
        if (entry.code == key) return &entry;
    return nullptr;
}

}  // namespace

ov::element::Type Tessarine::DataTypeToElementType(int32_t code) {
    if (const CodeEntry* entry = Find(kDataTypes, code)) return entry->type;
    throw std::invalid_argument("Unknown DataType");
}

ov::element::Type Tessarine::PrecisionToElementType(int32_t code) {
    if (const CodeEntry* entry = Find(kPrecisions, code)) return entry->type;
    return ov::element::f32;
}
