// <immintrin.h> for the vector kernels. GCC 12 inlines the AVX-512
// intrinsics' deliberately undefined start registers and then warns that they
// are used uninitialized (fixed in GCC 13); the warnings point into the header,
// so silencing them around the include leaves the kernels' own code checked.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
