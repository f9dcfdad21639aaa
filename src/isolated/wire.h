// The messages between the isolated module and its worker: a fixed header,
// then a payload of little-endian fields in the order each side writes and
// reads them. Tensor bytes never travel here; they lie in the shared memory,
// at offsets the payload names. The worker is not trusted: every read is
// checked against the payload's end, and a payload may not exceed a bound.
#ifndef TESSARINE_ISOLATED_WIRE_H
#define TESSARINE_ISOLATED_WIRE_H

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace wire {

enum class Kind : uint32_t {
    kReady = 1,   // the worker's first reply, unasked: started and confined
    kLoad,
    kRelease,
    kMap,
    kDetect,
    kTensors,
    kFetchOutputs,  // copy the last tensors call's runtime outputs into the grown memory
    kProbe,         // only a test build of the worker answers it
};

constexpr uint32_t kMagic = 0x54535257;  // "WRST"
constexpr uint64_t kMaxPayload = uint64_t{64} << 20;
constexpr uint64_t kAlignment = 64;

struct Header {
    uint32_t magic = kMagic;
    uint32_t kind = 0;
    uint64_t memory_size = 0;  // requests: the shared memory's size now
    uint64_t payload_size = 0;
};

// A reply that cannot be read as one: the worker broke the protocol.
struct Broken : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Writer {
public:
    template <class T>
    void Put(T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void PutString(const std::string& text) {
        Put<uint64_t>(text.size());
        bytes += text;
    }
    void PutDims(const std::vector<int64_t>& dims) {
        Put<uint64_t>(dims.size());
        bytes.append(reinterpret_cast<const char*>(dims.data()), dims.size() * sizeof(int64_t));
    }
    std::string bytes;
};

class Reader {
public:
    explicit Reader(const std::string& bytes) : at_(bytes.data()), end_(bytes.data() + bytes.size()) {}
    template <class T>
    T Get() {
        static_assert(std::is_trivially_copyable_v<T>);
        T value;
        std::memcpy(&value, Take(sizeof value), sizeof value);
        return value;
    }
    std::string GetString() {
        const uint64_t size = Get<uint64_t>();
        return std::string(Take(size), size);
    }
    std::vector<int64_t> GetDims() {
        const uint64_t count = Get<uint64_t>();
        if (count > Left() / sizeof(int64_t)) throw Broken("a dims list runs past the message");
        std::vector<int64_t> dims(count);
        std::memcpy(dims.data(), Take(count * sizeof(int64_t)), count * sizeof(int64_t));
        return dims;
    }
    // A count of items of at least `item_bytes` each, checked against what is left.
    uint64_t GetCount(uint64_t item_bytes) {
        const uint64_t count = Get<uint64_t>();
        if (count > Left() / item_bytes) throw Broken("a count runs past the message");
        return count;
    }
    uint64_t Left() const { return static_cast<uint64_t>(end_ - at_); }

private:
    const char* Take(uint64_t size) {
        if (size > Left()) throw Broken("a field runs past the message");
        const char* field = at_;
        at_ += size;
        return field;
    }
    const char* at_;
    const char* end_;
};

inline uint64_t Aligned(uint64_t offset) { return (offset + kAlignment - 1) / kAlignment * kAlignment; }

}  // namespace wire

#endif
