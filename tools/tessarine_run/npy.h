// NumPy's .npy files, version 1.0 to 3.0 read, 1.0 written; C order and
// little-endian (or one-byte) elements only.
#ifndef TESSARINE_RUN_NPY_H
#define TESSARINE_RUN_NPY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One element type under its three names: the tool's option name, NumPy's
// descr, the interface's DataType code.
struct ElementKind {
    const char* name;
    const char* descr;
    int32_t data_type;
    size_t size;
};

const ElementKind& KindByName(const std::string& name);
const ElementKind& KindByDescr(const std::string& descr);

struct NpyArray {
    const ElementKind* kind = nullptr;
    std::vector<int64_t> shape;
    std::vector<char> bytes;
};

size_t ElementCount(const std::vector<int64_t>& shape);

NpyArray ReadNpy(const std::string& path);
void WriteNpy(const std::string& path, const ElementKind& kind, const std::vector<int64_t>& shape, const void* data);

#endif
