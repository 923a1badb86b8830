#ifndef LABELELEMENTOPS_H
#define LABELELEMENTOPS_H

#include <QString>

#include <cstdint>
#include <type_traits>

enum class LabelArithOp { Add, Sub, Mul, Div };

namespace labelops
{

// Integer elements wrap at their own width. Working in an unsigned type at
// least as wide as int keeps every step defined (no signed overflow, no
// promotion of unsigned short to int), and the cast back keeps the low bits.
template <typename T>
using Wide = std::conditional_t<sizeof(T) <= sizeof(std::uint32_t), std::uint32_t, std::uint64_t>;

template <typename T> T integerDivide(T a, T b)
{
    // No defined quotient: a zero divisor yields 0; x / -1 is the wrapped
    // negation, which also gives MIN / -1 == MIN at every width.
    if (b == 0)
        return T(0);
    if constexpr (std::is_signed_v<T>) {
        if (b == -1)
            return static_cast<T>(Wide<T>(0) - static_cast<Wide<T>>(a));
    }
    return static_cast<T>(a / b);
}

template <typename T> T integerOp(LabelArithOp op, T a, T b)
{
    using W = Wide<T>;
    const W wa = static_cast<W>(a);
    const W wb = static_cast<W>(b);
    switch (op) {
    case LabelArithOp::Add:
        return static_cast<T>(wa + wb);
    case LabelArithOp::Sub:
        return static_cast<T>(wa - wb);
    case LabelArithOp::Mul:
        return static_cast<T>(wa * wb);
    case LabelArithOp::Div:
        return integerDivide(a, b);
    }
    return T(0);
}

inline bool boolOp(LabelArithOp op, bool a, bool b)
{
    switch (op) {
    case LabelArithOp::Add:
        return a || b;
    case LabelArithOp::Sub:
        return a != b;
    case LabelArithOp::Mul:
        return a && b;
    case LabelArithOp::Div:
        return b && a; // a false divisor has no quotient: false
    }
    return false;
}

template <typename T> T floatOp(LabelArithOp op, T a, T b)
{
    switch (op) {
    case LabelArithOp::Add:
        return a + b;
    case LabelArithOp::Sub:
        return a - b;
    case LabelArithOp::Mul:
        return a * b;
    case LabelArithOp::Div:
        return a / b;
    }
    return T(0);
}

// Only addition is defined for texts (concatenation); the operators refuse
// the others before any element is read.
inline QString textOp(LabelArithOp op, const QString &a, const QString &b)
{
    return op == LabelArithOp::Add ? a + b : QString();
}

template <typename T> T combine(LabelArithOp op, const T &a, const T &b)
{
    // Int8 elements are plain char, which is unsigned on ARM hosts: the
    // arithmetic must still be that of a signed byte on every platform.
    if constexpr (std::is_same_v<T, char>)
        return static_cast<char>(
            integerOp(op, static_cast<std::int8_t>(a), static_cast<std::int8_t>(b)));
    else if constexpr (std::is_same_v<T, bool>)
        return boolOp(op, a, b);
    else if constexpr (std::is_same_v<T, QString>)
        return textOp(op, a, b);
    else if constexpr (std::is_floating_point_v<T>)
        return floatOp(op, a, b);
    else
        return integerOp(op, a, b);
}

} // namespace labelops

#endif
