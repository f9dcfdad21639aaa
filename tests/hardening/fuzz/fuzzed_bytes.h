// Reads a fuzzer's input as a stream of small decisions. Past the end every
// read gives zero, so a short input still decodes to a whole, plain call.
#ifndef TESSARINE_FUZZED_BYTES_H
#define TESSARINE_FUZZED_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class FuzzedBytes {
public:
    FuzzedBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Exhausted() const { return offset_ >= size_; }

    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }

    template <class T>
    T Raw() {
        T value{};
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& b : bytes) b = Byte();
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    std::string String(size_t length) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>(Byte()));
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

#endif
