#pragma once

#include <type_traits>

// The per-partial loops of rendering come in two vector widths: the baseline every x86-64 (and
// every other target) runs, and on x86-64 a wide form for processors with AVX2 and FMA. Both do
// the same arithmetic in the same order lane by lane, except that the wide form fuses multiply-adds
// where no noise draw depends on the result: both draw the same random values, and their outputs
// differ by rounding alone. The engine picks a form when it is prepared, never inside the render
// loop.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QM_WIDE_VECTORS 1
// Compiles one function for the wide form; its always-inline callees are compiled into it.
#define QM_WIDE_TARGET __attribute__((target("avx2,fma")))
#else
#define QM_WIDE_VECTORS 0
#define QM_WIDE_TARGET
#endif

// A vector type of bytes/sizeof(T) lanes that reads and writes T arrays in place at any address
// aligned for T (and may alias T). GCC keeps the lowered alignment only on an alias declaration and
// Clang only on a typedef; given the other form, each assumes the vector's full alignment and
// faults on a run that starts between vectors.
#if defined(__clang__)
#define QM_ELEMENT_ALIGNED_VECTOR(name, T, bytes) \
    typedef T name __attribute__((vector_size(bytes), aligned(alignof(T)), may_alias))
#else
#define QM_ELEMENT_ALIGNED_VECTOR(name, T, bytes) \
    using name = T __attribute__((vector_size(bytes), aligned(alignof(T)), may_alias))
#endif

// Whether this processor can run the wide form.
bool wideVectorsSupported() noexcept;

// Whether the environment lets set-up choose the wide form (QM_BASELINE_VECTORS=1 forces the
// baseline everywhere, for tests and for comparing the two forms).
bool wideVectorsWanted() noexcept;

namespace vectorwidth
{
// form(std::true_type) compiled for the wide form; form must be always-inline so that all it
// inlines is compiled for that form too.
template <class Form>
QM_WIDE_TARGET auto wide(Form form) noexcept
{
    return form(std::true_type{});
}

template <class Form>
auto baseline(Form form) noexcept
{
    return form(std::false_type{});
}

// Runs form in the chosen vector width: form(std::bool_constant<kWide>) with kWide true only
// where the wide form is compiled in and asked for.
template <class Form>
inline auto dispatch(bool useWide, Form form) noexcept
{
#if QM_WIDE_VECTORS
    if (useWide) return wide(form);
#else
    (void)useWide;
#endif
    return baseline(form);
}
} // namespace vectorwidth
