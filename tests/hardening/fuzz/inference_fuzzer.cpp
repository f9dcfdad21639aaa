// The three DoInference forms on loaded models, fed sequences of up to four
// calls decoded from the fuzzer's bytes: records of the named form (names,
// type codes, dims, null data, record counts, empty vectors) and the image
// forms' sizes, descriptors and null pointers. The models are loaded once,
// on the CPU and on the NPU double (where a new size rebuilds the model).
//
// Every buffer handed over is as large as the dims, sizes or channel count it
// goes with claim (a shorter one is the host breaking the contract, which no
// module can detect), except where the claim's element or byte count
// overflows 64 bits: the module must refuse those, so their buffers are
// small, and dims of the whole 64-bit range reach it. Before a call the
// sequence may free the buffers of its earlier calls, which the request may
// still refer to: touching one again faults (see HostBuffer).
//
// After each call: the result agrees with GetLastErrorMessage; no guard band
// behind a buffer and no input buffer was written; records are changed only
// where the runtime allocated the outputs, and those outputs are readable
// over the size reported, match the dims reported and lie in none of the
// host's buffers. After the sequence a plain call with known values must
// still give the right result, at the latest after a reload where the
// sequence may have left a build the plain call cannot use (an empty image on
// a convolution, a named rebuild for other dims on the MULTI device).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <type_traits>

#include <sys/mman.h>

#include "fuzzed_bytes.h"
#include "hardening/host.h"

namespace {

constexpr size_t kMaxElements = 1 << 14;
constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuard = 0xA5;
constexpr uint64_t kReserved = 0x5EC0DEu;

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// A host buffer followed by a guard band, in pages of its own; input buffers
// remember their bytes. Freed by the host, its pages lose all access but stay
// reserved to the end of the sequence, so that a later touch faults, whether
// it comes from the module's code or from the runtime's, which
// AddressSanitizer does not see.
struct HostBuffer {
    HostBuffer(size_t bytes, uint8_t seed, bool input)
        : size(bytes), mapped((bytes + kGuardBytes + 4095) / 4096 * 4096), is_input(input) {
        void* pages = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        Require(pages != MAP_FAILED, "no pages for a host buffer");
        storage = static_cast<unsigned char*>(pages);
        for (size_t i = 0; i < bytes; ++i) storage[i] = static_cast<unsigned char>(seed + i * 31);
        std::memset(storage + bytes, kGuard, kGuardBytes);
        if (input) original.assign(storage, storage + bytes);
    }
    ~HostBuffer() { munmap(storage, mapped); }
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    bool Contains(const void* p) const {
        const auto* byte = static_cast<const unsigned char*>(p);
        return byte >= storage && byte < storage + size + kGuardBytes;
    }
    void Check() const {
        if (freed) return;
        for (size_t i = 0; i < kGuardBytes; ++i) Require(storage[size + i] == kGuard, "a write past a host buffer");
        if (is_input && size) Require(std::memcmp(storage, original.data(), size) == 0, "a write into an input buffer");
    }
    void Free() {
        Check();
        Require(mprotect(storage, mapped, PROT_NONE) == 0, "cannot free a host buffer");
        freed = true;
    }

    size_t size, mapped;
    unsigned char* storage = nullptr;
    bool is_input, freed = false;
    std::vector<unsigned char> original;
};

// Every buffer the plain calls hand over, in one block that lives for the
// whole run and counts as host memory like the sequences' buffers.
struct PlainBuffers {
    float a[4] = {1, -2, 3.5f, 0.25f}, b[4] = {4, 5, -6, 8}, sum[4], difference[4];
    float values[5] = {1, 2, 3, 4, 5}, bound[5];
    float conv_image[3 * 8 * 6], conv_map[2 * 8 * 6];
    float head_image[3 * 16 * 16], head[84 * 6];
    uint8_t x[6] = {0, 1, 2, 3, 50, 127}, y[6];  // sums that fit in u8
    float batch_x[3 * 4 * 5], batch_y[3 * 4 * 5];
};

PlainBuffers& Plain() {
    static PlainBuffers* const plain = [] {
        auto* buffers = new PlainBuffers;
        const std::vector<float> conv = Image(8, 6), head = Image(16, 16), batch = Image(5, 4);
        std::copy(conv.begin(), conv.end(), buffers->conv_image);
        std::copy(head.begin(), head.end(), buffers->head_image);
        std::copy(batch.begin(), batch.end(), buffers->batch_x);
        return buffers;
    }();
    return *plain;
}

bool InPlainBuffer(const void* p) {
    const auto* byte = static_cast<const unsigned char*>(p);
    const auto* start = reinterpret_cast<const unsigned char*>(&Plain());
    return byte >= start && byte < start + sizeof(PlainBuffers);
}

struct Sequence {
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    bool empty_extent = false;  // some call claimed a zero width, height or dim
    // A named call on a MULTI device may rebuild for its records' whole dims;
    // a later call of the same width and height reuses that build, whatever
    // its batch or channels, so the plain call may fail until a reload.
    bool built_for_named_dims = false;

    // The host is done with the earlier calls' buffers.
    void Free() {
        for (const auto& buffer : buffers) buffer->Free();
    }
    void* Allocate(size_t bytes, uint8_t seed, bool input) {
        Require(bytes <= kMaxElements * 8, "the fuzzer sized a buffer past its own limit");
        buffers.push_back(std::make_unique<HostBuffer>(bytes, seed, input));
        return buffers.back()->storage;
    }
    bool InHostBuffer(const void* p) const {
        return InPlainBuffer(p) ||
               std::any_of(buffers.begin(), buffers.end(), [&](const auto& b) { return b->Contains(p); });
    }
    void Check() const {
        for (const auto& buffer : buffers) buffer->Check();
    }
};

size_t ElementSize(int32_t type) {
    switch (type) {
        case DATA_TYPE_BOOL: case DATA_TYPE_INT8: case DATA_TYPE_UINT8: return 1;
        case DATA_TYPE_INT16: case DATA_TYPE_UINT16: case DATA_TYPE_FLOAT16: return 2;
        case DATA_TYPE_INT32: case DATA_TYPE_UINT32: case DATA_TYPE_FLOAT32: return 4;
        default: return 8;
    }
}

// Elements the non-negative dims claim, saturating instead of wrapping.
size_t Elements(const std::vector<int64_t>& dims) {
    size_t n = 1;
    for (int64_t d : dims) {
        if (d < 0) continue;
        if (d != 0 && n > SIZE_MAX / static_cast<uint64_t>(d)) return SIZE_MAX;
        n *= static_cast<size_t>(d);
    }
    return n;
}

// Halves the largest dim until the claim fits in a buffer the fuzzer makes.
void FitDims(std::vector<int64_t>& dims) {
    while (Elements(dims) > kMaxElements) *std::max_element(dims.begin(), dims.end()) /= 2;
}

// Whether the module must refuse dims for their byte count, as it counts it:
// zero dims count as one, and a dims list with a negative value (refused, or
// no tensor at all) never counts as overflowing.
template <class Dims>
bool Overflows(const Dims& dims, uint64_t element_size) {
    uint64_t bytes = element_size;
    for (const auto d : dims) {
        if constexpr (std::is_signed_v<std::decay_t<decltype(d)>>)
            if (d < 0) return false;
        if (d != 0 && __builtin_mul_overflow(bytes, static_cast<uint64_t>(d), &bytes)) return true;
    }
    return false;
}

// A buffer for a claim the module must refuse: too small for the claim.
constexpr size_t kRefusedClaimBytes = 64;

// One halving as the host counts it: trunc((d - 1) / 2) + 1 in 32-bit signed.
int64_t HalveUp(int64_t d) { return (d - 1) / 2 + 1; }

uint64_t HostGridCells(uint32_t width, uint32_t height) {
    int64_t w = HalveUp(HalveUp(static_cast<int32_t>(width)));
    int64_t h = HalveUp(HalveUp(static_cast<int32_t>(height)));
    uint32_t n = 0;
    for (int grid = 0; grid < 3; ++grid) {  // strides 8, 16 and 32
        w = HalveUp(w);
        h = HalveUp(h);
        n += static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    }
    return n;
}

// a * b * c, or UINT64_MAX when it does not fit.
uint64_t Product(uint64_t a, uint64_t b, uint64_t c = 1) {
    if (a == 0 || b == 0 || c == 0) return 0;
    uint64_t ab = 0, abc = 0;
    if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc)) return UINT64_MAX;
    return abc;
}

struct Subject {
    const char* model;
    int32_t device;
    std::vector<std::string> names;  // offered to records: inputs, then outputs
    bool convolution;                // an empty image may break the compiled model until it is reloaded
    std::function<bool(IImageAIInference&)> plain_call;
    std::vector<char> bytes;
    ObjectPtr object{nullptr, nullptr};
};

bool PlainTwoInputs(IImageAIInference& object) {
    PlainBuffers& p = Plain();
    const std::vector<TensorData> inputs = {Record("a", {1, 4}, p.a), Record("b", {1, 4}, p.b)};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, p.sum), Record("difference", {1, 4}, p.difference)};
    std::fill(p.sum, p.sum + 4, NAN);
    std::fill(p.difference, p.difference + 4, NAN);
    if (!object.DoInference(inputs, outputs)) return false;
    for (int k = 0; k < 4; ++k)
        if (p.sum[k] != p.a[k] + p.b[k] || p.difference[k] != p.a[k] - p.b[k]) return false;
    return true;
}

bool PlainRagged(IImageAIInference& object) {
    PlainBuffers& p = Plain();
    // Bound first, then runtime-allocated: the second must not land in `bound`.
    std::vector<TensorData> outputs = {Record("doubled", {1, 5}, p.bound)};
    if (!object.DoInference({Record("values", {1, 5}, p.values)}, outputs)) return false;
    outputs = {Record("doubled", {1, -1}, nullptr)};
    if (!object.DoInference({Record("values", {1, 5}, p.values)}, outputs)) return false;
    const auto* doubled = static_cast<const float*>(outputs[0].data);
    if (outputs[0].size != 5 || InPlainBuffer(doubled)) return false;
    for (int k = 0; k < 5; ++k)
        if (doubled[k] != 2 * p.values[k] || p.bound[k] != 2 * p.values[k]) return false;
    return true;
}

bool PlainConv(IImageAIInference& object) {
    PlainBuffers& p = Plain();
    static const std::vector<float> expected = DynamicConvMap({p.conv_image, std::end(p.conv_image)});
    static const auto desc = Descriptor(2);
    std::fill(std::begin(p.conv_map), std::end(p.conv_map), NAN);
    return object.DoInference(8, 6, p.conv_image, desc.data(), 8, 6, p.conv_map) &&
           std::equal(expected.begin(), expected.end(), p.conv_map);
}

bool PlainHead(IImageAIInference& object) {
    PlainBuffers& p = Plain();
    static const std::vector<float> expected = DetectHead({p.head_image, std::end(p.head_image)}, 16, 16);
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    std::fill(std::begin(p.head), std::end(p.head), NAN);
    if (!object.DoInference(16, 16, p.head_image, p.head, &count, &dim2, &dim1)) return false;
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::fabs(p.head[i] - expected[i]) > 1e-4f) return false;
    return count == expected.size();
}

bool PlainTyped(IImageAIInference& object) {
    PlainBuffers& p = Plain();
    std::vector<TensorData> outputs = {Record("y", {2, 3}, p.y, DATA_TYPE_UINT8)};
    if (!object.DoInference({Record("x", {2, 3}, p.x, DATA_TYPE_UINT8)}, outputs)) return false;
    for (int k = 0; k < 6; ++k)
        if (p.y[k] != static_cast<uint8_t>(p.x[k] + p.x[k])) return false;
    return true;
}

bool PlainBatch(IImageAIInference& object) {
    PlainBuffers& p = Plain();
    std::vector<TensorData> outputs = {Record("y", {1, 3, 4, 5}, p.batch_y)};
    if (!object.DoInference({Record("x", {1, 3, 4, 5}, p.batch_x)}, outputs)) return false;
    for (size_t k = 0; k < std::size(p.batch_x); ++k)
        if (p.batch_y[k] != std::max(p.batch_x[k], 0.0f)) return false;
    return true;
}

// The CPU plugin keeps the kernels of up to 5000 input shapes per compiled
// model; over the fuzzer's thousands of shapes that grows each object by
// hundreds of MiB. A core of the object's own, as the module would make it
// but for a small cache, keeps a long run within the fuzzer's memory limit.
std::shared_ptr<ov::Core> CoreWithSmallShapeCache() {
    auto core = std::make_shared<ov::Core>();
    core->set_property("CPU", ov::AnyMap{{"CPU_RUNTIME_CACHE_CAPACITY", 64}});
    return core;
}

// Made once and never destroyed: the objects outlive every input, as a
// host's do, and are not torn down among the runtime's own exit handlers.
std::vector<Subject>& Subjects() {
    static std::vector<Subject>* const subjects = [] {
        auto* made = new std::vector<Subject>;
        std::vector<Subject>& s = *made;
        s.push_back({"two_inputs", -1, {"a", "b", "sum", "difference"}, false, PlainTwoInputs});
        s.push_back({"ragged_output", -1, {"values", "doubled"}, false, PlainRagged});
        s.push_back({"dynamic_conv", -1, {"image", "map"}, true, PlainConv});
        s.push_back({"detect_head", -1, {"images", "output0"}, true, PlainHead});
        s.push_back({"typed_u8", -1, {"x", "y"}, false, PlainTyped});
        s.push_back({"any_batch", -1, {"x", "y"}, false, PlainBatch});
        s.push_back({"two_inputs", -2, {"a", "b", "sum", "difference"}, false, PlainTwoInputs});
        s.push_back({"dynamic_conv", -2, {"image", "map"}, true, PlainConv});
        for (Subject& subject : s) {
            subject.bytes = ReadModel(subject.model);
            subject.object = NewObject();
            AsTessarine(subject.object).core = subject.device == -2 ? CoreWithNpuDouble() : CoreWithSmallShapeCache();
            Require(subject.object->LoadModel(subject.bytes.data(), subject.bytes.size(), subject.device, 3),
                    "a test model does not load");
            if (subject.plain_call(*subject.object)) continue;
            std::fprintf(stderr, "%s on device %d: %s\n", subject.model, subject.device,
                         subject.object->GetLastErrorMessage().c_str());
            Require(false, "a plain call fails before any fuzzing");
        }
        return made;
    }();
    return *subjects;
}

// Dims: mostly -2 .. 9, now and then any 64-bit value.
int64_t Dim(FuzzedBytes& in) {
    const uint8_t b = in.Byte();
    return b < 0xF0 ? static_cast<int64_t>(b % 12) - 2 : in.Raw<int64_t>();
}

// Type codes: mostly 0 .. 12 (12 is unknown), now and then any 32-bit value.
int32_t TypeCode(FuzzedBytes& in) {
    const uint8_t b = in.Byte();
    return b < 0xF0 ? b % 13 : in.Raw<int32_t>();
}

TensorData DecodeRecord(FuzzedBytes& in, const Subject& subject, Sequence& sequence, bool input) {
    TensorData record;
    const uint8_t name = in.Byte();
    if (name < 0x80) {
        const size_t pick = name % (subject.names.size() + 1);
        record.name = pick < subject.names.size() ? subject.names[pick] : "";
    } else {
        record.name = in.String(name & 7);
    }
    record.type = TypeCode(in);
    const size_t rank = in.Byte() % 7;
    for (size_t i = 0; i < rank; ++i) record.dims.push_back(Dim(in));
    // An unknown type code is refused before the dims are counted.
    const bool refused = Overflows(record.dims, record.type >= 0 && record.type <= 11 ? ElementSize(record.type) : 1);
    if (!refused) FitDims(record.dims);
    if (std::find(record.dims.begin(), record.dims.end(), 0) != record.dims.end()) sequence.empty_extent = true;
    const uint8_t data = in.Byte();
    if (data % 8 != 0)
        record.data = sequence.Allocate(refused ? kRefusedClaimBytes : Elements(record.dims) * 8, data, input);
    record.size = 0;
    record.reserved = kReserved;
    return record;
}

void NamedCall(FuzzedBytes& in, Subject& subject, Sequence& sequence) {
    std::vector<TensorData> inputs, outputs;
    for (size_t n = in.Byte() % 4; n > 0; --n) inputs.push_back(DecodeRecord(in, subject, sequence, true));
    for (size_t n = in.Byte() % 4; n > 0; --n) outputs.push_back(DecodeRecord(in, subject, sequence, false));
    const std::vector<TensorData> given = outputs;
    // Any rank: after a failed rebuild even a size of 0 x 0 (no input of three
    // or four dims) rebuilds, for these records' dims.
    if (subject.device == -2 && !inputs.empty()) sequence.built_for_named_dims = true;
    const bool ok = subject.object->DoInference(inputs, outputs);
    Require(ok == subject.object->GetLastErrorMessage().empty(), "the named form's result disagrees with its text");
    sequence.Check();
    Require(outputs.size() == given.size(), "the output vector changed length");
    const bool runtime_outputs = std::any_of(given.begin(), given.end(), [](const TensorData& r) {
        return std::any_of(r.dims.begin(), r.dims.end(), [](int64_t d) { return d < 0; });
    });
    for (size_t i = 0; i < outputs.size(); ++i) {
        const TensorData& now = outputs[i];
        const TensorData& before = given[i];
        Require(now.reserved == kReserved && now.name == before.name && now.type == before.type,
                "an output record's name, type or reserved field changed");
        const bool changed = now.data != before.data || now.size != before.size || now.dims != before.dims;
        if (!changed) continue;
        // A failure part way through may leave earlier records already pointed
        // at the request's outputs; they must still be sound.
        Require(runtime_outputs, "an output record changed without runtime-allocated outputs");
        Require(now.size == Elements(now.dims), "a runtime output's size disagrees with its dims");
        Require(now.size <= kMaxElements * 64, "a runtime output is larger than any input could make it");
        if (now.size == 0) continue;
        Require(now.data && !sequence.InHostBuffer(now.data), "a runtime output points into a host buffer");
        std::vector<unsigned char> copy(now.size * ElementSize(now.type));
        std::memcpy(copy.data(), now.data, copy.size());  // checked by AddressSanitizer
    }
}

// Width or height: mostly 0 .. 63, now and then any 32-bit value.
uint32_t Extent(FuzzedBytes& in) {
    const uint8_t b = in.Byte();
    return b < 0xF8 ? b % 64 : in.Raw<uint32_t>();
}

void Halve(uint32_t& a, uint32_t& b) { (a >= b ? a : b) /= 2; }

// One pointer in sixteen calls is null; `which` numbers the call's pointers.
bool NullPick(uint8_t byte, int which) { return (byte & 0x0F) == which; }

void SingleImageCall(FuzzedBytes& in, Subject& subject, Sequence& sequence) {
    uint32_t width = Extent(in), height = Extent(in);
    const uint8_t shape = in.Byte();
    uint32_t out_width = shape % 4 ? width : Extent(in);
    uint32_t out_height = shape % 4 ? height : Extent(in);
    const uint8_t channel_byte = in.Byte();
    const bool null_desc = channel_byte == 0;
    uint64_t channels = null_desc ? 3 : channel_byte < 0xF8 ? channel_byte % 6 : in.Raw<uint64_t>();
    const bool input_refused = Overflows(std::initializer_list<uint64_t>{3, height, width}, 4);
    const bool output_refused = Overflows(std::initializer_list<uint64_t>{channels, out_height, out_width}, 4);
    while (!input_refused && Product(3, width, height) > kMaxElements) Halve(width, height);
    if (output_refused) {
    } else if (null_desc) {
        // The module binds three channels then.
        while (Product(3, out_width, out_height) > kMaxElements) Halve(out_width, out_height);
    } else if (channels) {
        while (Product(out_width, out_height) > kMaxElements) Halve(out_width, out_height);
        const uint64_t out_area = Product(out_width, out_height);
        while (out_area && channels > kMaxElements / out_area) channels /= 2;
    }
    if (!width || !height) sequence.empty_extent = true;
    const auto desc = Descriptor(channels);
    const uint8_t nulls = in.Byte();
    const size_t input_bytes = input_refused ? kRefusedClaimBytes : Product(3, width, height) * 4;
    const size_t output_bytes = output_refused ? kRefusedClaimBytes : Product(channels, out_width, out_height) * 4;
    void* input = NullPick(nulls, 1) ? nullptr : sequence.Allocate(input_bytes, nulls, true);
    void* output = NullPick(nulls, 2) ? nullptr : sequence.Allocate(output_bytes, nulls, false);
    const bool ok = subject.object->DoInference(width, height, input, null_desc ? nullptr : desc.data(), out_width,
                                                out_height, output);
    Require(ok == subject.object->GetLastErrorMessage().empty(), "the single-image form's result disagrees");
    sequence.Check();
}

void DetectionCall(FuzzedBytes& in, Subject& subject, Sequence& sequence) {
    uint32_t width = Extent(in), height = Extent(in);
    const bool refused = Overflows(std::initializer_list<uint64_t>{3, height, width}, 4);
    while (!refused && (Product(3, width, height) > kMaxElements || 84 * HostGridCells(width, height) > kMaxElements))
        Halve(width, height);
    if (!width || !height) sequence.empty_extent = true;
    const uint8_t nulls = in.Byte();
    uint64_t count = kReserved, dim2 = kReserved, dim1 = kReserved;
    const size_t input_bytes = refused ? kRefusedClaimBytes : Product(3, width, height) * 4;
    const size_t output_bytes = refused ? kRefusedClaimBytes : 84 * HostGridCells(width, height) * 4;
    void* input = NullPick(nulls, 1) ? nullptr : sequence.Allocate(input_bytes, nulls, true);
    void* output = NullPick(nulls, 2) ? nullptr : sequence.Allocate(output_bytes, nulls, false);
    const bool ok = subject.object->DoInference(width, height, input, output, NullPick(nulls, 3) ? nullptr : &count,
                                                NullPick(nulls, 4) ? nullptr : &dim2,
                                                NullPick(nulls, 5) ? nullptr : &dim1);
    Require(ok == subject.object->GetLastErrorMessage().empty(), "the detection form's result disagrees");
    sequence.Check();
    if (ok) {
        Require(dim1 == 84 && dim2 == HostGridCells(width, height) && count == 84 * dim2,
                "the detection form reports another shape than the host counted");
    } else {
        Require(count == kReserved && dim2 == kReserved && dim1 == kReserved, "a failed call wrote its counts");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Subject>& subjects = Subjects();
    FuzzedBytes in(data, size);
    Subject& subject = subjects[in.Byte() % subjects.size()];
    Sequence sequence;
    for (int call = 0; call < 4 && !in.Exhausted(); ++call) {
        const uint8_t kind = in.Byte();
        if (kind & 0x80) sequence.Free();
        switch (kind % 3) {
            case 0: SingleImageCall(in, subject, sequence); break;
            case 1: DetectionCall(in, subject, sequence); break;
            default: NamedCall(in, subject, sequence); break;
        }
    }
    // Also rebinds every port to the plain call's static buffers before this
    // sequence's buffers are freed.
    bool plain = subject.plain_call(*subject.object);
    if (!plain && ((subject.convolution && sequence.empty_extent) || sequence.built_for_named_dims)) {
        Require(subject.object->LoadModel(subject.bytes.data(), subject.bytes.size(), subject.device, 3),
                "the reload after the sequence fails");
        plain = subject.plain_call(*subject.object);
    }
    Require(plain, "a plain call fails after the sequence");
    return 0;
}
