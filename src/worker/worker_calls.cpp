// The worker's requests, one function each, around calls of its Tessarine
// on tensors that lie in the shared memory. Every reply to a call starts
// with the same part: the result, the console lines, the last error text and
// the recorded shapes.
#include <cstring>

#include "image_ai_host.h"
#include "worker/worker_state.h"

namespace {

constexpr uint64_t kNotFilled = UINT64_MAX;  // a record size no tensor has
constexpr uint8_t kDataNull = 0, kDataInMemory = 1, kDataInInput = 2;

void PutCommonPart(WorkerState& state, bool ok, wire::Writer& reply) {
    reply.Put<uint8_t>(ok);
    reply.Put<uint64_t>(CallLines().size());
    for (const std::string& line : CallLines()) reply.PutString(line);
    reply.PutString(state.object.last_error);
    reply.Put<uint8_t>(state.loaded);
    for (const auto* side : {&state.object.input_node_dims, &state.object.output_node_dims}) {
        reply.Put<uint64_t>(side->size());
        for (const std::vector<int64_t>& dims : *side) reply.PutDims(dims);
    }
}

void* At(WorkerState& state, bool null, uint64_t offset) { return null ? nullptr : state.memory.data() + offset; }

void Load(WorkerState& state, wire::Reader& request, wire::Writer& reply) {
    const auto device = request.Get<int32_t>();
    const auto precision = request.Get<uint32_t>();
    const bool null = request.Get<uint8_t>(), same_buffer = request.Get<uint8_t>();
    const auto size = request.Get<uint64_t>();
    if (!null && !(same_buffer && state.model_copy && size == state.model_copy_size)) {
        // Made before the old copy goes, so that a new buffer gets a new address.
        std::unique_ptr<char[]> fresh(new char[size ? size : 1]);
        state.model_copy.swap(fresh);
        state.model_copy_size = size;
    }
    if (!null && size > state.memory.size()) throw wire::Broken("a model past the memory");
    if (!null) std::memcpy(state.model_copy.get(), state.memory.data(), size);
    const bool ok = state.object.LoadModel(null ? nullptr : state.model_copy.get(), size, device, precision);
    state.loaded = true;
    PutCommonPart(state, ok, reply);
}

void Map(WorkerState& state, wire::Reader& request, wire::Writer& reply) {
    uint32_t sizes[4];
    for (uint32_t& value : sizes) value = request.Get<uint32_t>();
    bool null[3];
    for (bool& value : null) value = request.Get<uint8_t>();
    const image_ai::OutputDescriptor desc = image_ai::DescriptorFor(request.Get<uint64_t>());
    const auto output_offset = request.Get<uint64_t>();
    const bool ok = state.object.DoInference(sizes[0], sizes[1], At(state, null[0], 0), null[2] ? nullptr : desc.data(),
                                             sizes[2], sizes[3], At(state, null[1], output_offset));
    PutCommonPart(state, ok, reply);
}

void Detect(WorkerState& state, wire::Reader& request, wire::Writer& reply) {
    const auto width = request.Get<uint32_t>(), height = request.Get<uint32_t>();
    bool null[5];
    for (bool& value : null) value = request.Get<uint8_t>();
    const auto output_offset = request.Get<uint64_t>();
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    const bool ok = state.object.DoInference(width, height, At(state, null[0], 0), At(state, null[1], output_offset),
                                             null[2] ? nullptr : &count, null[3] ? nullptr : &dim2,
                                             null[4] ? nullptr : &dim1);
    PutCommonPart(state, ok, reply);
    for (uint64_t value : {count, dim2, dim1}) reply.Put(value);
}

std::vector<TensorData> GetRecords(WorkerState& state, wire::Reader& request, bool inputs) {
    std::vector<TensorData> records(request.GetCount(8 + 4 + 8 + 1 + 16));
    for (TensorData& record : records) {
        record.name = request.GetString();
        record.type = request.Get<int32_t>();
        record.dims = request.GetDims();
        const bool null = request.Get<uint8_t>();
        const auto offset = request.Get<uint64_t>(), bytes = request.Get<uint64_t>();
        if (offset > state.memory.size() || bytes > state.memory.size() - offset)
            throw wire::Broken("a region past the memory");
        record.data = At(state, null, offset);
        record.size = kNotFilled;
        if (inputs) state.input_regions.emplace_back(offset, bytes);
        state.request_end = std::max(state.request_end, wire::Aligned(offset + bytes));
    }
    return records;
}

// Where each filled record's data lies: in an input's region (an output
// that is an input), or in the runtime's memory, to be copied.
void Place(WorkerState& state) {
    state.placements.clear();
    for (const TensorData& record : state.outputs) {
        WorkerState::Placement placement{kDataNull, 0, 0, 0};
        const auto* data = static_cast<const unsigned char*>(record.data);
        if (record.size != kNotFilled) {
            placement.bytes = record.size * Tessarine::DataTypeToElementType(record.type).size();
            placement.where = data ? kDataInMemory : kDataNull;
        }
        for (size_t i = 0; record.size != kNotFilled && data && i < state.input_regions.size(); ++i) {
            const unsigned char* region = state.memory.data() + state.input_regions[i].first;
            if (data >= region && data < region + state.input_regions[i].second)
                placement = {kDataInInput, i, static_cast<uint64_t>(data - region), placement.bytes};
        }
        state.placements.push_back(placement);
    }
}

// The memory the runtime outputs need, from the request's end.
uint64_t RuntimeOutputsEnd(const WorkerState& state) {
    uint64_t end = state.request_end;
    for (const WorkerState::Placement& placement : state.placements)
        if (placement.where == kDataInMemory) end = wire::Aligned(end + placement.bytes);
    return end;
}

// Copies the runtime's memory behind the request's regions.
void PutRuntimeOutputs(WorkerState& state, wire::Writer& reply) {
    if (state.placements.size() != state.outputs.size()) throw wire::Broken("a fetch after no runtime outputs");
    reply.Put<uint64_t>(state.outputs.size());
    uint64_t at = state.request_end;
    for (size_t r = 0; r < state.outputs.size(); ++r) {
        const TensorData& record = state.outputs[r];
        reply.Put<uint8_t>(record.size != kNotFilled);
        if (record.size == kNotFilled) continue;
        WorkerState::Placement placement = state.placements[r];
        if (placement.where == kDataInMemory) {
            std::memcpy(state.memory.data() + at, record.data, placement.bytes);
            placement.index = at;
            at = wire::Aligned(at + placement.bytes);
        }
        reply.PutDims(record.dims);
        reply.Put(record.size);
        reply.Put(placement.where);
        reply.Put(placement.index);
        reply.Put(placement.offset);
    }
}

void Tensors(WorkerState& state, wire::Reader& request, wire::Writer& reply) {
    state.input_regions.clear();
    state.placements.clear();
    state.request_end = 0;
    const std::vector<TensorData> inputs = GetRecords(state, request, true);
    state.outputs = GetRecords(state, request, false);
    bool runtime_outputs = false;  // the module's rule, before the call rewrites the filled records' dims
    for (const TensorData& record : state.outputs)
        for (int64_t dim : record.dims) runtime_outputs |= dim < 0;
    const bool ok = state.object.DoInference(inputs, state.outputs);
    PutCommonPart(state, ok, reply);
    if (!ok || !runtime_outputs) return;
    Place(state);
    const uint64_t needed = RuntimeOutputsEnd(state);
    reply.Put(needed);
    if (needed <= state.memory.size()) PutRuntimeOutputs(state, reply);
}

}  // namespace

std::vector<std::string>& CallLines() {
    static std::vector<std::string> lines;
    return lines;
}

void Serve(WorkerState& state, wire::Kind kind, wire::Reader& request, wire::Writer& reply) {
    switch (kind) {
        case wire::Kind::kLoad: return Load(state, request, reply);
        case wire::Kind::kRelease:
            state.object.ReleaseModel();
            return PutCommonPart(state, true, reply);
        case wire::Kind::kMap: return Map(state, request, reply);
        case wire::Kind::kDetect: return Detect(state, request, reply);
        case wire::Kind::kTensors: return Tensors(state, request, reply);
        case wire::Kind::kFetchOutputs: return PutRuntimeOutputs(state, reply);
        case wire::Kind::kProbe: return ServeProbe(state, request, reply);
        default: throw wire::Broken("a request of no kind it knows");
    }
}
