#include "module/tessarine.h"

extern "C" {

IMAGE_AI_EXPORT IImageAIInference* InitModule() { return new Tessarine(); }

// Deletes through the virtual destructor so that the module's own heap frees
// what InitModule allocated.
IMAGE_AI_EXPORT void ReleaseModule(IImageAIInference* object) { delete object; }
}
