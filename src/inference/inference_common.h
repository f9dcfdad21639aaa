// What the three DoInference forms share: the four exception handlers, the
// rejection of a request, and the rebuild decision.
#ifndef TESSARINE_INFERENCE_COMMON_H
#define TESSARINE_INFERENCE_COMMON_H

#include "module/tessarine.h"

// Runs work() (which returns false once it has reported a rejection itself)
// and turns whatever it throws into a false result, a text in last_error and
// one console line. ov::Busy comes first: it is also an ov::Exception.
template <class Work>
bool Tessarine::GuardInference(Work&& work) {
    try {
        return work();
    } catch (const ov::Busy& e) {
        return ReportInferenceError("[OpenVINOInstance]DoInference ov::Busy error: %s", e.what());
    } catch (const ov::Exception& e) {
        return ReportInferenceError("[OpenVINOInstance]DoInference ov::Exception error: %s", e.what());
    } catch (const std::exception& e) {
        return ReportInferenceError("[OpenVINOInstance]DoInference std::exception error: %s", e.what());
    } catch (...) {
        last_error = "another exception error.";
        TraceParts(last_error);
        ConsoleLine("[OpenVINOInstance]DoInference another exception error.");
        return false;
    }
}

// Bind a tensor over the host's memory unless the request already holds one
// over the same memory with the same element type, shape and strides, and
// return the tensor the request then holds. The runtime's set_tensor costs
// several microseconds a call, most of what the module would otherwise add to
// a small model, and binding an equal view again changes nothing. When the
// request cannot be asked, the tensor is bound, so the binding fails or
// succeeds exactly as it always did.
ov::Tensor BindInputTensor(ov::InferRequest& request, const ov::Tensor& tensor);
ov::Tensor BindOutputTensor(ov::InferRequest& request, const ov::Tensor& tensor);
ov::Tensor BindNamedTensor(ov::InferRequest& request, const std::string& name, const ov::Tensor& tensor);

// Whether a tensor of this shape and element type can be described in a
// 64-bit process: its element count and its byte count fit in 64 bits. A zero
// dim counts as one, since the runtime still multiplies the others out into
// strides. Past that, the runtime's own products wrap, and a buffer the size
// of the wrapped count passes its checks (the CPU plugin then reads past it,
// or divides by the zero the product wrapped to).
bool ShapeFits(const ov::Shape& shape, const ov::element::Type& type);

// Host buffers of outputs that the compiled model feeds straight from an
// input (an Identity, a one-input Max, a Clip folded away). The runtime gives
// such an output the input's own memory, so a host buffer bound to it takes
// the input's place: that output is never written, and every output computed
// from the input is computed from the host's output buffer instead. These
// outputs are therefore never bound; after the run their values are copied
// into the host's buffers, the only copy on any inference path, and only of
// values the runtime did not compute.
class PassedThroughBuffers {
public:
    // Keeps `host` for `port` (the output the host calls `name`), refusing
    // it as binding it would: another element type, a shape the output
    // cannot have.
    void Take(const ov::Output<const ov::Node>& port, const ov::Tensor& host, const std::string& name);
    // After a successful run; a result of another shape than the host's
    // buffer fails, as it does for an output the runtime writes itself.
    void Deliver(ov::InferRequest& request) const;

private:
    std::vector<std::pair<ov::Output<const ov::Node>, ov::Tensor>> taken_;
};

// For the forms that bind one output without a name: takes `host` when the
// request's only output is passed through (false: bind it as usual).
bool TakeIfPassedThrough(ov::InferRequest& request, const std::vector<size_t>& passed_through_outputs,
                         const ov::Tensor& host, PassedThroughBuffers& passed);

// N of DoInference(1): the cells of the 8-, 16- and 32-pixel grids over a
// width x height image, each grid rounded up.
uint64_t GridCellCount(uint32_t width, uint32_t height);

#endif
