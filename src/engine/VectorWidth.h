#pragma once

// The per-partial loops of rendering come in two vector widths: the baseline every x86-64 (and
// every other target) runs, and on x86-64 a wide form for processors with AVX2 and FMA. Both do
// the same arithmetic in the same order lane by lane, so they give the same output; the engine
// picks one when it is prepared, never inside the render loop.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QM_WIDE_VECTORS 1
// Compiles one function for the wide form; its always-inline callees are compiled into it.
#define QM_WIDE_TARGET __attribute__((target("avx2,fma")))
#else
#define QM_WIDE_VECTORS 0
#define QM_WIDE_TARGET
#endif

// Whether this processor can run the wide form.
bool wideVectorsSupported() noexcept;
