#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace kestrove {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
namespace detail {
__attribute__((target("avx"))) inline void zeroUpperHalves()
{
    _mm256_zeroupper();
}
} // namespace detail
#endif

// glibc copies with AVX-512 registers where the processor has them and leaves their upper halves in
// use. On such processors every plain SSE instruction after that waits on those halves, and a
// selection pass, which is all scalar arithmetic, runs at half speed. Clearing them costs a cycle; a
// scan does it once per line. Nothing is lost: this program keeps no value in the upper halves.
inline void clearUpperVectorHalves()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        detail::zeroUpperHalves();
#endif
}

} // namespace kestrove
