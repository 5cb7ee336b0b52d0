#pragma once

#include <type_traits>

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
