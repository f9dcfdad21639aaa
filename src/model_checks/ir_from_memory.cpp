// OpenVINO 2024.5's IR reader looks for the weights beside the model file, at
// the model's path with ".bin" in place of its extension, even when the model
// comes from memory and the weights are given. A model from memory has no
// path, so the reader opens ".bin" in the host process's current directory:
// if a file (or a link, or a FIFO, on which the load then blocks) of that
// name is there, its bytes become the values of the model's constants, which
// the model can hand back as an output. There is no way to give the reader a
// model from memory without that look, so the module refuses IR.
//
// Which reader takes the bytes is asked of the runtime's own frontend
// manager, exactly as read_model asks it: the IR reader also takes bytes that
// merely hold an XML element "net" (in any case, any encoding) with version 10
// or 11 among other data, such as a valid ONNX model whose producer name is
// such an element, and it is asked before the ONNX reader.
#include "model_checks/ir_from_memory.h"

#include <istream>
#include <stdexcept>
#include <streambuf>

#include <openvino/frontend/manager.hpp>

namespace {

// A read-only stream over the model bytes, without a copy of them.
class BytesBuffer : public std::streambuf {
public:
    explicit BytesBuffer(const std::string& bytes) {
        char* begin = const_cast<char*>(bytes.data());
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        const off_type base = dir == std::ios_base::beg   ? 0
                              : dir == std::ios_base::cur ? gptr() - eback()
                                                          : egptr() - eback();
        return seekpos(pos_type(base + offset), std::ios_base::in);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode) override {
        const off_type at = position;
        if (at < 0 || at > egptr() - eback()) return pos_type(off_type(-1));
        setg(eback(), eback() + at, egptr());
        return position;
    }
};

}  // namespace

void RefuseIrFromMemory(const std::string& model_bytes) {
    BytesBuffer buffer(model_bytes);
    std::istream stream(&buffer);
    // One manager for the process: a new one lists the runtime's folder for
    // frontend libraries, a third of a millisecond a load; asking it is
    // serialized by the manager itself.
    static ov::frontend::FrontEndManager manager;
    const ov::frontend::FrontEnd::Ptr reader = manager.load_by_model(ov::AnyVector{&stream});
    if (reader && reader->get_name() == "ir")
        throw std::invalid_argument(
            "the model is OpenVINO IR, whose reader opens \".bin\" in the current directory for a model loaded from "
            "memory; IR models are refused.");
}
