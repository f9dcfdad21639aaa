// The isolated object's life, its load and release, the shape and error
// queries, and the one exchange every call goes through.
#include "isolated/isolated_tessarine.h"

#include <cstdio>
#include <cstring>

#include "isolated/console_lines.h"
#include "module/shape_report.h"

IsolatedTessarine::IsolatedTessarine(std::string worker_path) : link_(std::move(worker_path)) {}

IsolatedTessarine::~IsolatedTessarine() { link_.Stop(); }

bool IsolatedTessarine::Fail(const char* failure_format, const std::string& text) {
    last_error_ = text;
    model_sent_to_this_worker_ = false;
    PrintConsoleLine(failure_format, text);
    return false;
}

bool IsolatedTessarine::Exchange(wire::Kind kind, const std::string& payload, const char* failure_format,
                                 const FormPart& form_part) {
    std::string reply;
    if (const std::string failure = link_.Call(kind, payload, reply); !failure.empty())
        return Fail(failure_format, failure);
    std::vector<std::string> lines;
    bool ok = false;
    try {
        wire::Reader reader(reply);
        ok = reader.Get<uint8_t>() != 0;
        for (uint64_t n = reader.GetCount(8); n > 0; --n) lines.push_back(reader.GetString());
        std::string error = reader.GetString();
        const bool has_records = reader.Get<uint8_t>() != 0;
        std::vector<std::vector<int64_t>> dims[2];
        for (auto& side : dims)
            for (uint64_t n = reader.GetCount(8); n > 0; --n) side.push_back(reader.GetDims());
        if (ok && form_part)
            if (const std::string failure = form_part(reader); !failure.empty()) return Fail(failure_format, failure);
        last_error_ = std::move(error);
        if (has_records) input_dims_ = std::move(dims[0]), output_dims_ = std::move(dims[1]);
    } catch (const wire::Broken& broken) {
        link_.Stop();
        return Fail(failure_format,
                    std::string("the worker process broke the protocol (") + broken.what() + ") and was ended.");
    }
    for (const std::string& line : lines) PrintConsoleText(line);
    return ok;
}

// The bytes go to the worker whole, as the module copies them whole; the
// worker keeps them under one address per host buffer, so that a reload from
// the same buffer meets the module's comparison by address as it would here.
bool IsolatedTessarine::LoadModel(const void* model_data, uint64_t model_size, int32_t device_index,
                                  uint32_t precision_code) {
    const bool same_buffer = link_.Running() && model_sent_to_this_worker_ && model_data == model_data_ &&
                             model_size == model_size_;
    model_data_ = model_data;
    model_size_ = model_size;
    if (model_data) {
        std::string failure;
        unsigned char* memory = link_.Memory(model_size, failure);
        if (!memory) return Fail(kLoadFailureLine, failure);
        std::memcpy(memory, model_data, model_size);
    }
    wire::Writer request;
    request.Put<int32_t>(device_index);
    request.Put<uint32_t>(precision_code);
    request.Put<uint8_t>(model_data == nullptr);
    request.Put<uint8_t>(same_buffer);
    request.Put<uint64_t>(model_size);
    const bool loaded = Exchange(wire::Kind::kLoad, request.bytes, kLoadFailureLine);
    model_sent_to_this_worker_ = link_.Running();
    return loaded;
}

// A release never starts a worker: with none running there is no model to
// drop. It prints nothing and keeps the shapes, so its reply is not read; a
// worker found ended here is started anew by the next call that needs one.
void IsolatedTessarine::ReleaseModel() {
    std::string reply;
    if (link_.Running()) link_.Call(wire::Kind::kRelease, {}, reply);
    last_error_.clear();
}

uint32_t IsolatedTessarine::GetInputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2,
                                          int64_t* dim3, int64_t* dim4) {
    return ReportShape(input_dims_, index, {dim0, dim1, dim2, dim3, dim4});
}

uint32_t IsolatedTessarine::GetOutputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2,
                                           int64_t* dim3, int64_t* dim4) {
    return ReportShape(output_dims_, index, {dim0, dim1, dim2, dim3, dim4});
}

std::string IsolatedTessarine::GetLastErrorMessage() { return last_error_; }
