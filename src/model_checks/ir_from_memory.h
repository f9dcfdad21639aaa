#ifndef TESSARINE_IR_FROM_MEMORY_H
#define TESSARINE_IR_FROM_MEMORY_H

#include <string>

// Throws std::invalid_argument for bytes the runtime would read as OpenVINO
// IR (see the source for why); returns for everything else.
void RefuseIrFromMemory(const std::string& model_bytes);

#endif
