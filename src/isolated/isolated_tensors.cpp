// The tensors form of the isolated object. Input records are copied into the
// shared memory; output records bound to host buffers get a region there,
// copied out after a successful call. Outputs the runtime allocates are
// copied by the worker into the shared memory (grown first when they do not
// fit), and the host's records point there: memory this object owns, valid
// until its next call. An output the module would point at an input's buffer
// is pointed at the host's own input buffer, as the module points it.
#include <cstring>

#include "isolated/console_lines.h"
#include "isolated/isolated_tessarine.h"
#include "isolated/tensor_bytes.h"

namespace {

constexpr uint8_t kDataNull = 0, kDataInMemory = 1, kDataInInput = 2;
// The shared memory is grown to what the worker says its runtime outputs
// need; past this, the worker is taken at its word no longer.
constexpr uint64_t kLargestRuntimeOutputs = uint64_t{1} << 40;

struct TensorsLayout {
    bool copied = false;   // every record usable: the worker will read and write the regions
    bool runtime_outputs = false;
    std::vector<uint64_t> offsets[2], bytes[2];  // inputs, outputs
    uint64_t end = 0;
};

// Lays the records out only when the module would run the call: any record
// it refuses makes it refuse the call before it reads a byte.
TensorsLayout LayOut(const std::vector<TensorData>& inputs, const std::vector<TensorData>& outputs) {
    TensorsLayout layout;
    for (const TensorData& record : outputs)
        for (int64_t dim : record.dims) layout.runtime_outputs |= dim < 0;
    const std::vector<TensorData>* sides[2] = {&inputs, layout.runtime_outputs ? nullptr : &outputs};
    for (int side = 0; side < 2; ++side) {
        if (!sides[side]) continue;
        for (const TensorData& record : *sides[side]) {
            const std::optional<uint64_t> bytes = TensorBytes(record.dims, ElementBytes(record.type));
            if (!bytes || !record.data || layout.end + *bytes < layout.end) return {};
            layout.offsets[side].push_back(layout.end);
            layout.bytes[side].push_back(*bytes);
            layout.end = wire::Aligned(layout.end + *bytes);
        }
    }
    layout.copied = !inputs.empty();
    return layout;
}

void PutRecords(wire::Writer& request, const std::vector<TensorData>& records, const TensorsLayout& layout,
                int side) {
    request.Put<uint64_t>(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        request.PutString(records[i].name);
        request.Put(records[i].type);
        request.PutDims(records[i].dims);
        request.Put<uint8_t>(records[i].data == nullptr);
        const bool placed = layout.copied && i < layout.offsets[side].size();
        request.Put<uint64_t>(placed ? layout.offsets[side][i] : 0);
        request.Put<uint64_t>(placed ? layout.bytes[side][i] : 0);
    }
}

}  // namespace

// Each record the worker's module filled: its dims, its element count and
// where its data lies. Checked against what the host side knows, since a
// record that pointed anywhere else would hand the host memory to read.
static void PointRuntimeOutputs(wire::Reader& reply, const unsigned char* memory, uint64_t memory_size,
                                const std::vector<TensorData>& inputs, const TensorsLayout& layout,
                                std::vector<TensorData>& outputs) {
    if (reply.Get<uint64_t>() != outputs.size()) throw wire::Broken("another number of output records");
    for (TensorData& record : outputs) {
        if (!reply.Get<uint8_t>()) continue;
        std::vector<int64_t> dims = reply.GetDims();
        const uint64_t size = reply.Get<uint64_t>();
        const uint8_t where = reply.Get<uint8_t>();
        const uint64_t at = reply.Get<uint64_t>(), offset = reply.Get<uint64_t>();
        const uint64_t element = ElementBytes(record.type);
        if (element == 0 || size > UINT64_MAX / element) throw wire::Broken("an output of no size it could have");
        const uint64_t bytes = size * element;
        if (where == kDataNull) {
            record.data = nullptr;
        } else if (where == kDataInMemory && at <= memory_size && bytes <= memory_size - at) {
            record.data = const_cast<unsigned char*>(memory) + at;
        } else if (where == kDataInInput && at < inputs.size() && at < layout.bytes[0].size() &&
                   offset <= layout.bytes[0][at] && bytes <= layout.bytes[0][at] - offset) {
            record.data = static_cast<unsigned char*>(inputs[at].data) + offset;
        } else {
            throw wire::Broken("an output outside the memory it may name");
        }
        record.dims = std::move(dims);
        record.size = size;
    }
}

bool IsolatedTessarine::DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) {
    const TensorsLayout layout = LayOut(inputs, outputs);
    if (layout.copied) {
        std::string failure;
        unsigned char* memory = link_.Memory(layout.end, failure);
        if (!memory) return Fail(kInferenceFailureLine, failure);
        for (size_t i = 0; i < inputs.size(); ++i)
            std::memcpy(memory + layout.offsets[0][i], inputs[i].data, layout.bytes[0][i]);
    }
    wire::Writer request;
    PutRecords(request, inputs, layout, 0);
    PutRecords(request, outputs, layout, 1);
    return Exchange(wire::Kind::kTensors, request.bytes, kInferenceFailureLine, [&](wire::Reader& reply) {
        if (!layout.copied) throw wire::Broken("a tensors result for a call it had to refuse");
        if (!layout.runtime_outputs) {
            for (size_t i = 0; i < outputs.size(); ++i)
                std::memcpy(outputs[i].data, link_.MemoryData() + layout.offsets[1][i], layout.bytes[1][i]);
            return std::string();
        }
        const uint64_t needed = reply.Get<uint64_t>();
        if (needed > kLargestRuntimeOutputs) throw wire::Broken("runtime outputs larger than any this side maps");
        std::string fetched;
        wire::Reader* records = &reply;
        wire::Reader fetched_reader(fetched);
        if (needed > link_.MemorySize()) {
            std::string failure;
            if (!link_.Memory(needed, failure)) return failure;
            if (failure = link_.Call(wire::Kind::kFetchOutputs, {}, fetched); !failure.empty()) return failure;
            fetched_reader = wire::Reader(fetched);
            records = &fetched_reader;
        }
        PointRuntimeOutputs(*records, link_.MemoryData(), link_.MemorySize(), inputs, layout, outputs);
        return std::string();
    });
}
