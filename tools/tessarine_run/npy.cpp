#include "npy.h"

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "image_ai_inference.h"

namespace {

constexpr std::array<ElementKind, 12> kKinds{{
    {"bool", "|b1", DATA_TYPE_BOOL, 1},
    {"i8", "|i1", DATA_TYPE_INT8, 1},
    {"u8", "|u1", DATA_TYPE_UINT8, 1},
    {"i16", "<i2", DATA_TYPE_INT16, 2},
    {"u16", "<u2", DATA_TYPE_UINT16, 2},
    {"i32", "<i4", DATA_TYPE_INT32, 4},
    {"u32", "<u4", DATA_TYPE_UINT32, 4},
    {"i64", "<i8", DATA_TYPE_INT64, 8},
    {"u64", "<u8", DATA_TYPE_UINT64, 8},
    {"f16", "<f2", DATA_TYPE_FLOAT16, 2},
    {"f32", "<f4", DATA_TYPE_FLOAT32, 4},
    {"f64", "<f8", DATA_TYPE_FLOAT64, 8},
}};

constexpr char kMagic[] = "\x93NUMPY";

// The text after `'key':` in the header dictionary.
std::string ValueOf(const std::string& header, const std::string& key, const std::string& path) {
    const size_t at = header.find("'" + key + "':");
    if (at == std::string::npos) throw std::runtime_error(path + ": the .npy header has no " + key);
    return header.substr(at + key.size() + 3);
}

std::vector<int64_t> ParseShape(const std::string& text, const std::string& path) {
    const size_t open = text.find('('), close = text.find(')');
    if (open == std::string::npos || close == std::string::npos) throw std::runtime_error(path + ": bad shape");
    std::vector<int64_t> shape;
    const char* p = text.c_str() + open + 1;
    const char* end = text.c_str() + close;
    while (p < end) {
        char* next = nullptr;
        const long long v = std::strtoll(p, &next, 10);
        if (next == p) break;
        shape.push_back(v);
        p = next + std::strspn(next, ", ");
    }
    return shape;
}

std::string ReadHeader(std::istream& in, const std::string& path) {
    char prefix[8] = {};
    if (!in.read(prefix, 8) || std::memcmp(prefix, kMagic, 6) != 0)
        throw std::runtime_error(path + " is not a .npy file");
    uint32_t length = 0;
    unsigned char bytes[4] = {};
    const int width = prefix[6] == 1 ? 2 : 4;
    in.read(reinterpret_cast<char*>(bytes), width);
    for (int i = width - 1; i >= 0; --i) length = length * 256 + bytes[i];
    std::string header(length, '\0');
    if (!in.read(header.data(), length)) throw std::runtime_error(path + ": truncated .npy header");
    return header;
}

}  // namespace

const ElementKind& KindByName(const std::string& name) {
    for (const ElementKind& kind : kKinds)
        if (name == kind.name) return kind;
    throw std::invalid_argument("unknown element type " + name +
                                " (bool, i8, u8, i16, u16, i32, u32, i64, u64, f16, f32, f64)");
}

const ElementKind& KindByDescr(const std::string& descr) {
    // '<' little-endian, '|' not applicable, '=' native (little-endian here).
    if (descr.size() > 1 && (descr[0] == '<' || descr[0] == '|' || descr[0] == '='))
        for (const ElementKind& kind : kKinds)
            if (descr.compare(1, std::string::npos, kind.descr + 1) == 0) return kind;
    throw std::invalid_argument("unsupported .npy element type " + descr);
}

size_t ElementCount(const std::vector<int64_t>& shape) {
    size_t count = 1;
    for (int64_t d : shape) count *= static_cast<size_t>(d < 0 ? 0 : d);
    return count;
}

NpyArray ReadNpy(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    const std::string header = ReadHeader(in, path);
    const std::string descr_text = ValueOf(header, "descr", path);
    const size_t open = descr_text.find('\'');
    const size_t close = open == std::string::npos ? open : descr_text.find('\'', open + 1);
    if (close == std::string::npos) throw std::runtime_error(path + ": bad descr in the .npy header");
    NpyArray array;
    array.kind = &KindByDescr(descr_text.substr(open + 1, close - open - 1));
    if (ValueOf(header, "fortran_order", path).compare(0, 4, "True") == 0)
        throw std::runtime_error(path + ": Fortran-ordered arrays are not supported");
    array.shape = ParseShape(ValueOf(header, "shape", path), path);
    array.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const size_t expected = ElementCount(array.shape) * array.kind->size;
    if (array.bytes.size() < expected) throw std::runtime_error(path + ": the data is shorter than its shape");
    array.bytes.resize(expected);
    return array;
}

void WriteNpy(const std::string& path, const ElementKind& kind, const std::vector<int64_t>& shape, const void* data) {
    std::string dims;
    for (size_t i = 0; i < shape.size(); ++i) dims += (i ? ", " : "") + std::to_string(shape[i]);
    if (shape.size() == 1) dims += ",";
    std::string header =
        "{'descr': '" + std::string(kind.descr) + "', 'fortran_order': False, 'shape': (" + dims + "), }";
    // The data starts on a 64-byte boundary, as NumPy writes it.
    header.append(63 - (10 + header.size()) % 64, ' ').push_back('\n');
    std::ofstream out(path, std::ios::binary);
    const unsigned char length[2] = {static_cast<unsigned char>(header.size() & 0xff),
                                     static_cast<unsigned char>(header.size() >> 8)};
    out.write(kMagic, 6)
        .put(1)
        .put(0)
        .write(reinterpret_cast<const char*>(length), 2)
        .write(header.data(), header.size());
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(ElementCount(shape) * kind.size));
    if (!out) throw std::runtime_error("cannot write " + path);
}
