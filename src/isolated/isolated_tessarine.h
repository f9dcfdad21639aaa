// The isolated module's object: the same interface as Tessarine, served by
// a Tessarine in a worker process of this object's own (src/worker). The
// host's tensors are copied once into shared memory before a call and once
// out after it; the worker's console lines, last error text and recorded
// shapes come back with each reply, and the lines are printed here, on the
// host's standard output, during the call.
//
// A worker that dies, outlives the host's time limit or breaks the protocol
// costs the call it was serving: false, a text saying what happened, one
// console line of the call's family (a load's "Load model std::exception
// error", an inference's "DoInference error"). The host's buffers then hold
// nothing of that call's outputs, the shapes stay as last reported, and the
// next call that needs a worker starts a new one.
#ifndef TESSARINE_ISOLATED_TESSARINE_H
#define TESSARINE_ISOLATED_TESSARINE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image_ai_inference.h"
#include "isolated/worker_link.h"

class IsolatedTessarine : public IImageAIInference {
public:
    // The worker executable, normally beside this library.
    explicit IsolatedTessarine(std::string worker_path);
    ~IsolatedTessarine() override;
    IsolatedTessarine(const IsolatedTessarine&) = delete;
    IsolatedTessarine& operator=(const IsolatedTessarine&) = delete;

    bool LoadModel(const void* model_data, uint64_t model_size, int32_t device_index,
                   uint32_t precision_code) override;
    void ReleaseModel() override;
    bool DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) override;
    bool DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                     uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) override;
    bool DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                     uint32_t output_width, uint32_t output_height, void* output_data) override;
    uint32_t GetInputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                           int64_t* dim4) override;
    uint32_t GetOutputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                            int64_t* dim4) override;
    std::string GetLastErrorMessage() override;

    // The worker's link, for the tests' probes of a test build of the worker.
    WorkerLink& Link() { return link_; }

private:
    // Reads what follows the common part of a successful reply (and may
    // throw wire::Broken); returns the empty text, or why the link failed.
    using FormPart = std::function<std::string(wire::Reader& reply)>;
    // One request and its reply; the result is the call's. `failure_format`
    // is the console line of the call's family, for a failed link.
    bool Exchange(wire::Kind kind, const std::string& payload, const char* failure_format,
                  const FormPart& form_part = nullptr);
    // A call the link failed: the text becomes the last error and the
    // family's line is printed; false.
    bool Fail(const char* failure_format, const std::string& text);

    WorkerLink link_;
    std::string last_error_;
    std::vector<std::vector<int64_t>> input_dims_, output_dims_;
    // The last load's buffer, compared by address as the module compares it.
    const void* model_data_ = nullptr;
    uint64_t model_size_ = 0;
    bool model_sent_to_this_worker_ = false;
};

#endif
