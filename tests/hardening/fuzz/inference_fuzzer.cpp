// The three DoInference forms on loaded models, fed sequences of up to four
// calls decoded from the fuzzer's bytes: records of the tensors form (names,
// type codes, dims of the whole 64-bit range, null data, record counts, empty
// vectors) and the image forms' sizes, descriptors and null pointers. The
// models are loaded once, on the CPU and on the NPU double, where a new size
// rebuilds the model on MULTI.
//
// Every buffer handed over is as large as the claim it goes with (dims, sizes,
// channel count), except where the claim overflows 64 bits: the module must
// refuse those, so their buffers are small. Before a call the sequence may
// free its earlier calls' buffers, which the request may still refer to:
// their pages lose all access, so a touch faults even from the runtime's code,
// which AddressSanitizer does not see.
//
// An input is a subject's index in the table of Subjects(), then calls: a
// kind byte (modulo 3: map, detect, tensors; the high bit has the host free
// the earlier calls' buffers first) and the call's fields as the decoders
// below read them. seeds/ holds each subject's plain calls, named for its
// model ("_npu" added on the NPU double), and a few calls of known hazards.
//
// After each call: the result agrees with GetLastErrorMessage; no input buffer
// and nothing past any buffer was written; records changed only where the
// runtime allocated outputs, which are readable over the size reported and
// lie in no host buffer. After the sequence the subject's plain calls must
// give what they gave at start-up, at the latest after a reload where the
// sequence may have left a build they cannot use (an empty image on a
// convolution; a tensors call that rebuilt on MULTI for its own dims, which a
// call of the same width and height reuses).
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

namespace {

constexpr uint64_t kMaxElements = 1 << 14, kRefusedClaimBytes = 64, kGuardBytes = 64, kReserved = 0x5EC0DE;
constexpr uint64_t kGuard = 0xA5, kSubjects = 8;

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The input as a stream of small decisions; past its end every byte is zero.
struct Bytes {
    const uint8_t* data;
    size_t size, at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    template <class T>
    T Raw() {  // little-endian
        uint64_t value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) value |= uint64_t(Byte()) << (8 * i);
        return T(value);
    }
    template <class T>  // mostly (byte % modulo) + offset; from raw_from on, any value of T
    T Pick(uint8_t raw_from, int modulo, int offset = 0) {
        const uint8_t b = Byte();
        return b < raw_from ? T(b % modulo + offset) : Raw<T>();
    }
};

// A host buffer of seeded bytes and a guard band behind it, in pages of its
// own. Freed, its pages stay reserved with no access.
struct HostBuffer {
    HostBuffer(size_t bytes, uint8_t seed, bool input) : size(bytes), seed(seed), is_input(input) {
        Require(at != MAP_FAILED, "no pages for a host buffer");
        for (size_t i = 0; i < bytes; ++i) at[i] = Seeded(i);
        std::memset(at + bytes, kGuard, kGuardBytes);
    }
    ~HostBuffer() { munmap(at, mapped); }
    unsigned char Seeded(size_t i) const { return static_cast<unsigned char>(seed + i * 31); }
    void Check() const {
        for (size_t i = 0; !freed && i < kGuardBytes; ++i) Require(at[size + i] == kGuard, "a write past a buffer");
        for (size_t i = 0; !freed && is_input && i < size; ++i) Require(at[i] == Seeded(i), "a write into an input");
    }
    size_t size, mapped = (size + kGuardBytes + 4095) & ~4095ul;
    uint8_t seed;
    bool is_input, freed = false;
    unsigned char* at = static_cast<unsigned char*>(
        mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
};

struct Sequence {
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    const Sequence* earlier = nullptr;  // the last plain calls', still the host's
    std::vector<unsigned char> runtime_outputs;
    // On MULTI a tensors call may rebuild for its records' whole dims, which a
    // later call of the same width and height reuses: built_for_own_dims.
    bool failed = false, empty_extent = false, built_for_own_dims = false;

    // A buffer for the call (a small one for a claim the module must refuse), unless the nulls byte picks pointer
    // `which` to be null (one in sixteen calls).
    void* Allocate(bool refused, uint64_t claim, uint8_t seed, bool input, int which = -1) {
        const uint64_t bytes = refused ? kRefusedClaimBytes : claim;
        Require(bytes <= kMaxElements * 8, "the fuzzer sized a buffer past its own limit");
        if ((seed & 0x0F) == which) return nullptr;
        return buffers.emplace_back(std::make_unique<HostBuffer>(bytes, seed, input))->at;
    }
    void Free() {
        for (const auto& b : buffers)
            b->Check(), b->freed = true, Require(!mprotect(b->at, b->mapped, PROT_NONE), "cannot free a buffer");
    }
    bool Holds(const unsigned char* p) const {
        const auto in = [&](const auto& b) { return p >= b->at && p < b->at + b->size + kGuardBytes; };
        return std::any_of(buffers.begin(), buffers.end(), in) || (earlier && earlier->Holds(p));
    }
    void After(bool ok, IImageAIInference& object) {
        Require(ok == object.GetLastErrorMessage().empty(), "a call's result disagrees with its error text");
        for (const auto& b : buffers) b->Check();
        failed |= !ok;
    }
    std::vector<unsigned char> Outputs() const {
        std::vector<unsigned char> all = runtime_outputs;
        for (const auto& b : buffers)
            if (!b->is_input) all.insert(all.end(), b->at, b->at + b->size);
        return all;
    }
};

struct Subject {
    const char* model;
    int32_t device = -1;
    bool convolution = false;        // an empty image may break its build until it is reloaded
    std::vector<std::string> names;  // offered to records: inputs, then outputs
    std::vector<char> bytes, plain_calls;
    ObjectPtr object = NewObject();
    std::unique_ptr<Sequence> last_plain;
    std::vector<unsigned char> expected;
    bool Load() { return object->LoadModel(bytes.data(), bytes.size(), device, 3); }
};

// Of the dims below 2^63 (the non-negative ones of a record), saturating; a zero after an overflow still makes zero.
template <class Dims = std::initializer_list<uint64_t>>
uint64_t Elements(const Dims& dims) {
    uint64_t n = 1;
    for (auto d : dims)
        if (int64_t(d) >= 0 && __builtin_mul_overflow(n, uint64_t(d), &n)) n = UINT64_MAX;
    return n;
}

// Whether a claim overflows 64 bits of bytes as the module counts: zero dims count as one.
template <class Dims = std::initializer_list<uint64_t>>
bool Overflows(const Dims& dims, uint64_t bytes) {
    for (auto d : dims)
        if (d && __builtin_mul_overflow(bytes, uint64_t(d), &bytes)) return true;
    return false;
}

uint64_t ElementBytes(int32_t type) {  // unknown codes are refused before the dims are counted
    return type >= DATA_TYPE_BOOL && type <= DATA_TYPE_FLOAT64 ? Tessarine::DataTypeToElementType(type).size() : 1;
}

void Halve(uint32_t& a, uint32_t& b) { (a >= b ? a : b) /= 2; }

bool HasNegative(const std::vector<int64_t>& dims) {
    return std::any_of(dims.begin(), dims.end(), [](int64_t d) { return d < 0; });
}

TensorData DecodeRecord(Bytes& in, const Subject& subject, Sequence& sequence, bool input) {
    TensorData record{{}, DATA_TYPE_FLOAT32, {}, nullptr, 0, kReserved};
    const uint8_t name = in.Byte(), pick = name % (subject.names.size() + 1);  // a name of its own, or one offered
    for (int n = name >= 0x80 ? name & 7 : 0; n > 0; --n) record.name.push_back(char(in.Byte()));
    if (name < 0x80 && pick < subject.names.size()) record.name = subject.names[pick];
    record.type = in.Pick<int32_t>(0xF0, DATA_TYPE_FLOAT64 + 2);  // the codes, and one past the last: unknown
    for (int rank = in.Byte() % 7; rank > 0; --rank) record.dims.push_back(in.Pick<int64_t>(0xF0, 12, -2));
    const bool refused = !HasNegative(record.dims) && Overflows(record.dims, ElementBytes(record.type));
    while (!refused && Elements(record.dims) > kMaxElements)
        *std::max_element(record.dims.begin(), record.dims.end()) /= 2;
    sequence.empty_extent |= std::count(record.dims.begin(), record.dims.end(), 0) > 0;
    const uint8_t data = in.Byte();
    if (data % 8) record.data = sequence.Allocate(refused, Elements(record.dims) * 8, data, input);
    return record;
}

void TensorsCall(Bytes& in, Subject& subject, Sequence& sequence) {
    std::vector<TensorData> inputs, outputs;
    for (int n = in.Byte() % 4; n > 0; --n) inputs.push_back(DecodeRecord(in, subject, sequence, true));
    for (int n = in.Byte() % 4; n > 0; --n) outputs.push_back(DecodeRecord(in, subject, sequence, false));
    const std::vector<TensorData> given = outputs;
    sequence.built_for_own_dims |= subject.device == -2 && !inputs.empty();
    sequence.After(subject.object->DoInference(inputs, outputs), *subject.object);
    Require(outputs.size() == given.size(), "the output vector changed length");
    for (size_t i = 0; i < outputs.size(); ++i) {
        const TensorData &now = outputs[i], &before = given[i];
        Require(now.reserved == kReserved && now.name == before.name && now.type == before.type,
                "an output record's name, type or reserved field changed");
        if (now.data == before.data && now.size == before.size && now.dims == before.dims) continue;
        // A call failing part way may leave earlier records pointed at the
        // request's outputs; they must still be sound.
        Require(std::any_of(given.begin(), given.end(), [](const TensorData& r) { return HasNegative(r.dims); }),
                "an output record changed without runtime-allocated outputs");
        Require(now.size == Elements(now.dims) && now.size <= kMaxElements * 64, "a runtime output's size is wrong");
        const auto* at = static_cast<const unsigned char*>(now.data);  // read, so AddressSanitizer checks it
        Require(!now.size || (at && !sequence.Holds(at)), "a runtime output points into a host buffer");
        sequence.runtime_outputs.insert(sequence.runtime_outputs.end(), at, at + now.size * ElementBytes(now.type));
    }
}

// The map form, or the detect form, whose output the image's size decides.
void ImageCall(Bytes& in, Subject& subject, Sequence& sequence, bool detect) {
    uint32_t width = in.Pick<uint32_t>(0xF8, 64), height = in.Pick<uint32_t>(0xF8, 64);
    const bool same_size = detect || in.Byte() % 4;
    uint32_t out_width = same_size ? width : in.Pick<uint32_t>(0xF8, 64);
    uint32_t out_height = same_size ? height : in.Pick<uint32_t>(0xF8, 64);
    const uint8_t channel_byte = detect ? 1 : in.Byte();
    const bool null_desc = channel_byte == 0;  // the module binds three channels then
    uint64_t channels = null_desc ? 3 : channel_byte < 0xF8 ? channel_byte % 6 : in.Raw<uint64_t>();
    const bool input_refused = Overflows({3, height, width}, 4);
    const bool output_refused = detect ? input_refused : Overflows({channels, out_height, out_width}, 4);
    const auto head = [&] { return detect ? image_ai::kDetectionRows * image_ai::DetectionCells(width, height) : 0; };
    while (!input_refused && std::max(Elements({3, width, height}), head()) > kMaxElements) Halve(width, height);
    while (!output_refused && channels && Elements({null_desc ? 3u : 1u, out_width, out_height}) > kMaxElements)
        Halve(out_width, out_height);
    while (!output_refused && Elements({channels, out_width, out_height}) > kMaxElements) channels /= 2;
    sequence.empty_extent |= !width || !height;
    const uint8_t nulls = in.Byte();
    void* input = sequence.Allocate(input_refused, Elements({3, width, height}) * 4, nulls, true, 1);
    const uint64_t output_elements = detect ? head() : Elements({channels, out_width, out_height});
    void* output = sequence.Allocate(output_refused, output_elements * 4, nulls, false, 2);
    const auto desc = Descriptor(channels);
    if (!detect)
        return sequence.After(subject.object->DoInference(width, height, input, null_desc ? nullptr : desc.data(),
                                                          out_width, out_height, output), *subject.object);
    uint64_t count = kReserved, dim2 = kReserved, dim1 = kReserved;
    const auto unless_null = [&](uint64_t* p, int which) { return (nulls & 0x0F) == which ? nullptr : p; };
    const bool ok = subject.object->DoInference(width, height, input, output, unless_null(&count, 3),
                                                unless_null(&dim2, 4), unless_null(&dim1, 5));
    sequence.After(ok, *subject.object);
    Require(ok ? dim1 == image_ai::kDetectionRows && dim2 == head() / dim1 && count == head()
               : count == kReserved && dim2 == kReserved && dim1 == kReserved,
            "the detect form reports another shape than the host counted, or wrote counts when it failed");
}

// Up to four calls; a kind byte's high bit frees the earlier calls' buffers first.
void RunCalls(Bytes& in, Subject& subject, Sequence& sequence) {
    for (int call = 0; call < 4 && in.at < in.size; ++call) {
        const uint8_t kind = in.Byte();
        if (kind & 0x80) sequence.Free();
        kind % 3 == 2 ? TensorsCall(in, subject, sequence) : ImageCall(in, subject, sequence, kind % 3 == 1);
    }
}

// Whether the plain calls give what they gave at start-up. They rebind every
// port to buffers that live until the next plain calls.
bool PlainCallsAgree(Subject& subject) {
    auto plain = std::make_unique<Sequence>(Sequence{{}, subject.last_plain.get()});
    // The calls follow the subject's index.
    Bytes in{reinterpret_cast<const uint8_t*>(subject.plain_calls.data()), subject.plain_calls.size(), 1};
    RunCalls(in, subject, *plain);
    plain->earlier = nullptr;
    subject.last_plain = std::move(plain);
    return !subject.last_plain->failed && subject.last_plain->Outputs() == subject.expected;
}

// Made once and never destroyed: the objects outlive every input, as a host's do.
Subject* Subjects() {
    static Subject* made = nullptr;
    if (made) return made;
    made = new Subject[kSubjects]{{"two_inputs"}, {"ragged_output"}, {"dynamic_conv", -1, true},
        {"detect_head", -1, true}, {"typed_u8"}, {"any_batch"}, {"two_inputs", -2}, {"dynamic_conv", -2, true}};
    for (size_t index = 0; index < kSubjects; ++index) {
        Subject& s = made[index];
        s.bytes = ReadModel(s.model);
        // The seed of its plain calls: the model's name, with "_npu" on the NPU double.
        s.plain_calls = ReadFileBytes(TESSARINE_INFERENCE_SEEDS "/" + std::string(s.model) +
                                      (s.device == -1 ? "" : "_npu"));
        Require(uint8_t(s.plain_calls[0]) == index, "a plain seed is for another subject");
        Tessarine& object = AsTessarine(s.object);
        object.core = s.device == -1 ? std::make_shared<ov::Core>() : CoreWithNpuDouble();
        // The CPU plugin keeps kernels for up to 5000 input shapes per compiled model,
        // hundreds of MiB over a long run; a small cache keeps the fuzzer within its limit.
        if (s.device == -1) object.core->set_property("CPU", {{"CPU_RUNTIME_CACHE_CAPACITY", 64}});
        Require(s.Load(), "a test model does not load");
        s.names = object.input_names;
        s.names.insert(s.names.end(), object.output_names.begin(), object.output_names.end());
        PlainCallsAgree(s);
        Require(!s.last_plain->failed, "a plain call fails before any fuzzing");
        s.expected = s.last_plain->Outputs();
    }
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    Subject& subject = Subjects()[in.Byte() % kSubjects];
    Sequence sequence{{}, subject.last_plain.get()};
    RunCalls(in, subject, sequence);
    // The plain calls rebind every port before this sequence's buffers go.
    const bool may_reload = (subject.convolution && sequence.empty_extent) || sequence.built_for_own_dims;
    Require(PlainCallsAgree(subject) || (may_reload && subject.Load() && PlainCallsAgree(subject)),
            "the plain calls give other results after the sequence (and a reload where one may be needed)");
    return 0;
}
