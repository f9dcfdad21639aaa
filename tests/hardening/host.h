// What the hardening tests add to the shared helpers (test_support.h, which
// also gives NewHostObject): whether this is the sanitized build, and the
// process's resident memory.
#ifndef TESSARINE_HARDENING_HOST_H
#define TESSARINE_HARDENING_HOST_H

#include "test_support.h"

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
