#pragma once
// Eight lanes held as N vectors of 8 / N lanes each (P a GCC vector type, L
// its lane type), with the operators of a vector: every operation is the
// same IEEE or integer operation in each lane, part by part.
//
// The vector kernels work on eight doubles at a time. Where the registers
// hold fewer, GCC keeps a generic eight-lane vector that lives across loop
// iterations in memory, storing and reloading its pieces every time; an
// array of register-wide parts stays in registers.
//
// Everything here is always inlined and carries no target of its own, so
// that it takes the instruction set of the kernel it is inlined into.

#include <cstring>
#include <utility>

namespace tessavo {

template <typename P, typename L, int N>
struct Split {
    P part[N];
};

// The comparisons' lanes: all ones where they hold, as a vector's are.
template <typename P>
using MaskOf = decltype(std::declval<P>() == std::declval<P>());

#define TESSAVO_SPLIT_OPERATOR(op)                                                                                \
    template <typename P, typename L, int N>                                                                      \
    __attribute__((always_inline)) inline Split<P, L, N> operator op(Split<P, L, N> a, Split<P, L, N> b)         \
    {                                                                                                             \
        for (int i = 0; i < N; ++i)                                                                               \
            a.part[i] = a.part[i] op b.part[i];                                                                   \
        return a;                                                                                                 \
    }                                                                                                             \
    template <typename P, typename L, int N, typename S>                                                          \
    __attribute__((always_inline)) inline Split<P, L, N> operator op(Split<P, L, N> a, S b)                      \
    {                                                                                                             \
        for (int i = 0; i < N; ++i)                                                                               \
            a.part[i] = a.part[i] op static_cast<L>(b);                                                           \
        return a;                                                                                                 \
    }                                                                                                             \
    template <typename P, typename L, int N, typename S>                                                          \
    __attribute__((always_inline)) inline Split<P, L, N> operator op(S a, Split<P, L, N> b)                      \
    {                                                                                                             \
        for (int i = 0; i < N; ++i)                                                                               \
            b.part[i] = static_cast<L>(a) op b.part[i];                                                           \
        return b;                                                                                                 \
    }
TESSAVO_SPLIT_OPERATOR(+)
TESSAVO_SPLIT_OPERATOR(-)
TESSAVO_SPLIT_OPERATOR(*)
TESSAVO_SPLIT_OPERATOR(/)
TESSAVO_SPLIT_OPERATOR(&)
TESSAVO_SPLIT_OPERATOR(|)
TESSAVO_SPLIT_OPERATOR(^)
TESSAVO_SPLIT_OPERATOR(<<)
TESSAVO_SPLIT_OPERATOR(>>)
#undef TESSAVO_SPLIT_OPERATOR

template <typename P, typename L, int N>
__attribute__((always_inline)) inline Split<P, L, N> operator~(Split<P, L, N> a)
{
    for (int i = 0; i < N; ++i)
        a.part[i] = ~a.part[i];
    return a;
}

template <typename P, typename L, int N>
__attribute__((always_inline)) inline Split<MaskOf<P>, long long, N> operator==(Split<P, L, N> a, Split<P, L, N> b)
{
    Split<MaskOf<P>, long long, N> r;
    for (int i = 0; i < N; ++i)
        r.part[i] = a.part[i] == b.part[i];
    return r;
}

template <typename P, typename L, int N, typename S>
__attribute__((always_inline)) inline Split<MaskOf<P>, long long, N> operator<(Split<P, L, N> a, S b)
{
    Split<MaskOf<P>, long long, N> r;
    for (int i = 0; i < N; ++i)
        r.part[i] = a.part[i] < static_cast<L>(b);
    return r;
}

template <typename P, typename L, int N, typename S>
__attribute__((always_inline)) inline Split<MaskOf<P>, long long, N> operator==(Split<P, L, N> a, S b)
{
    Split<MaskOf<P>, long long, N> r;
    for (int i = 0; i < N; ++i)
        r.part[i] = a.part[i] == static_cast<L>(b);
    return r;
}

template <typename P, typename L, int N, typename S>
__attribute__((always_inline)) inline Split<MaskOf<P>, long long, N> operator>=(Split<P, L, N> a, S b)
{
    Split<MaskOf<P>, long long, N> r;
    for (int i = 0; i < N; ++i)
        r.part[i] = a.part[i] >= static_cast<L>(b);
    return r;
}

// Eight lanes from memory and back, a register at a time: a copy of the
// whole would go through the stack.
template <typename P, typename L, int N, typename T>
__attribute__((always_inline)) inline void loadInto(Split<P, L, N>& v, const T* p)
{
    for (int i = 0; i < N; ++i)
        std::memcpy(&v.part[i], p + i * (8 / N), sizeof(P));
}

template <typename P, typename L, int N, typename T>
__attribute__((always_inline)) inline void storeFrom(T* p, const Split<P, L, N>& v)
{
    for (int i = 0; i < N; ++i)
        std::memcpy(p + i * (8 / N), &v.part[i], sizeof(P));
}

// Lane r (0 to 7), read and written.
template <typename P, typename L, int N>
__attribute__((always_inline)) inline L lane(const Split<P, L, N>& v, int r)
{
    return v.part[r / (8 / N)][r % (8 / N)];
}

template <typename P, typename L, int N>
__attribute__((always_inline)) inline void setLane(Split<P, L, N>& v, int r, L x)
{
    v.part[r / (8 / N)][r % (8 / N)] = x;
}

// a where a lane of mask is set, else b.
template <typename MP, typename ML, typename P, typename L, int N>
__attribute__((always_inline)) inline Split<P, L, N> select(Split<MP, ML, N> mask, Split<P, L, N> a,
                                                            Split<P, L, N> b)
{
    for (int i = 0; i < N; ++i)
        a.part[i] = mask.part[i] ? a.part[i] : b.part[i];
    return a;
}

// Whether any lane is set.
template <typename P, typename L, int N>
__attribute__((always_inline)) inline bool anySet(Split<P, L, N> bits)
{
    P folded = bits.part[0];
    for (int i = 1; i < N; ++i)
        folded = folded | bits.part[i];
    L any = 0;
    for (int r = 0; r < 8 / N; ++r)
        any |= folded[r];
    return any != 0;
}

// For parts of W lanes: which parts of x then y (0 to 2 · 8 / W − 1) part
// o of a pick draws on, and where in those two each of its lanes lies.
template <int W, int... I>
struct PickPlan {
    static constexpr int index[8] = {I...};
    static constexpr int first(int o) { return index[o * W] / W; }
    static constexpr int second(int o)
    {
        for (int l = 0; l < W; ++l)
            if (index[o * W + l] / W != first(o))
                return index[o * W + l] / W;
        return first(o);
    }
    static constexpr bool fits(int o)
    {
        for (int l = 0; l < W; ++l)
            if (index[o * W + l] / W != first(o) && index[o * W + l] / W != second(o))
                return false;
        return true;
    }
    static constexpr int at(int o, int l) { return (index[o * W + l] / W == first(o) ? 0 : W) + index[o * W + l] % W; }
};

template <int s, typename P, typename L, int N>
__attribute__((always_inline)) inline P partOf(const Split<P, L, N>& x, const Split<P, L, N>& y)
{
    if constexpr (s < N)
        return x.part[s];
    else
        return y.part[s - N];
}

template <typename Plan, int o, typename P, typename L, int N>
__attribute__((always_inline)) inline P pickedPart(const Split<P, L, N>& x, const Split<P, L, N>& y)
{
    static_assert(Plan::fits(o), "each part of a pick draws on two parts at most");
    MaskOf<P> at;
    for (int l = 0; l < 8 / N; ++l)
        at[l] = Plan::at(o, l);
    return __builtin_shuffle(partOf<Plan::first(o)>(x, y), partOf<Plan::second(o)>(x, y), at);
}

// Lanes of x (0-7) and y (8-15) in the order given.
template <int a, int b, int c, int d, int e, int f, int g, int h, typename P, typename L, int N>
__attribute__((always_inline)) inline Split<P, L, N> pick(Split<P, L, N> x, Split<P, L, N> y)
{
    using Plan = PickPlan<8 / N, a, b, c, d, e, f, g, h>;
    Split<P, L, N> r;
    r.part[0] = pickedPart<Plan, 0>(x, y);
    if constexpr (N > 1)
        r.part[1] = pickedPart<Plan, 1>(x, y);
    if constexpr (N > 2) {
        r.part[2] = pickedPart<Plan, 2>(x, y);
        r.part[3] = pickedPart<Plan, 3>(x, y);
    }
    return r;
}

}  // namespace tessavo
