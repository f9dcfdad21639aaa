// The checks on a model's bytes before the runtime reads them: the one entry
// the load pipeline calls. Each check guards the host against the runtime's
// own readers: bytes on which a reader would crash or exhaust memory, and
// bytes that would make it open files, which a model read from memory has no
// business naming.
#ifndef TESSARINE_MODEL_BYTES_H
#define TESSARINE_MODEL_BYTES_H

#include <string>

// Throws std::invalid_argument, with the text the host gets, for bytes the
// runtime must not read; returns for everything else, which is the runtime's
// to take or refuse.
void RefuseModelBytesTheRuntimeMustNotRead(const std::string& model_bytes);

#endif
