// What the hardening tests add to the shared helpers: the production library
// opened as a host opens it, and the process's resident memory.
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

#endif
