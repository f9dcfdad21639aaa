// What the hardening tests share: the production library opened as a host
// opens it, the calls of the three inference forms with buffers sized from
// what they claim, the hand-worked results of the test models, and the
// process's resident memory.
#ifndef TESSARINE_HARDENING_HOST_H
#define TESSARINE_HARDENING_HOST_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

// An object of the production library (dlopen by file name, InitModule and
// ReleaseModule by name). The library stays open for the whole run.
ObjectPtr NewHostObject();

// Whether this binary was built with AddressSanitizer (TESSARINE_SANITIZE).
constexpr bool kSanitized =
#ifdef TESSARINE_SANITIZED
    true;
#else
    false;
#endif

// Resident memory in KiB (VmRSS), after handing the allocator's free pages
// back, so that what is measured is memory something still holds.
long ResidentKiB();

TensorData Record(std::string name, std::vector<int64_t> dims, void* data, int32_t type = DATA_TYPE_FLOAT32);

// The host's 64-byte output block of DoInference(0): the channel count at
// byte 40, every other byte noise.
std::array<unsigned char, 64> Descriptor(uint64_t channels);

// A planar f32 image with a distinct value at every channel and pixel.
std::vector<float> Image(uint32_t width, uint32_t height, float offset = 0);
// dynamic_conv's map: map0 = r + g + b, map1 = 2r - b + 0.5.
std::vector<float> DynamicConvMap(const std::vector<float>& image);
// detect_head's [1, 84, N] for an image: see make_test_models.py.
std::vector<float> DetectHead(const std::vector<float>& image, uint32_t width, uint32_t height);

#endif
