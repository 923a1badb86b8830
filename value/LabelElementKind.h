#ifndef LABELELEMENTKIND_H
#define LABELELEMENTKIND_H

#include "CLabelVariable.h"

// The host's type codes above 12 are variants of the twelve element types;
// the operators only care which element type a code stands for.
enum class LabelElementKind {
    None,
    Bool,
    Int8,
    UInt8,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Float,
    Int64,
    UInt64,
    Double,
    Text
};

LabelElementKind labelElementKind(DataType type);

// Maps an element type to the accessor that reads it, so the operators read
// both operands the same way the host does.
template <typename T> struct LabelAccessor;
template <> struct LabelAccessor<bool> {
    static constexpr bool (CLabelVariable::*at)(int) = &CLabelVariable::atbool;
};
template <> struct LabelAccessor<char> {
    static constexpr char (CLabelVariable::*at)(int) = &CLabelVariable::atInt8;
};
template <> struct LabelAccessor<unsigned char> {
    static constexpr unsigned char (CLabelVariable::*at)(int) = &CLabelVariable::atUInt8;
};
template <> struct LabelAccessor<short> {
    static constexpr short (CLabelVariable::*at)(int) = &CLabelVariable::atInt16;
};
template <> struct LabelAccessor<unsigned short> {
    static constexpr unsigned short (CLabelVariable::*at)(int) = &CLabelVariable::atUInt16;
};
template <> struct LabelAccessor<int> {
    static constexpr int (CLabelVariable::*at)(int) = &CLabelVariable::atInt32;
};
template <> struct LabelAccessor<unsigned int> {
    static constexpr unsigned int (CLabelVariable::*at)(int) = &CLabelVariable::atUInt32;
};
template <> struct LabelAccessor<float> {
    static constexpr float (CLabelVariable::*at)(int) = &CLabelVariable::atFloat;
};
template <> struct LabelAccessor<long long> {
    static constexpr long long (CLabelVariable::*at)(int) = &CLabelVariable::atInt64;
};
template <> struct LabelAccessor<unsigned long long> {
    static constexpr unsigned long long (CLabelVariable::*at)(int) = &CLabelVariable::atUInt64;
};
template <> struct LabelAccessor<double> {
    static constexpr double (CLabelVariable::*at)(int) = &CLabelVariable::atDouble;
};
template <> struct LabelAccessor<QString> {
    static constexpr QString (CLabelVariable::*at)(int) = &CLabelVariable::atQString;
};

template <typename T> struct LabelElementTag {
    using type = T;
};

// Calls f with the tag of the element type of kind; does nothing for None.
template <typename F> void visitLabelElementKind(LabelElementKind kind, F &&f)
{
    switch (kind) {
    case LabelElementKind::None:
        break;
    case LabelElementKind::Bool:
        f(LabelElementTag<bool>());
        break;
    case LabelElementKind::Int8:
        f(LabelElementTag<char>());
        break;
    case LabelElementKind::UInt8:
        f(LabelElementTag<unsigned char>());
        break;
    case LabelElementKind::Int16:
        f(LabelElementTag<short>());
        break;
    case LabelElementKind::UInt16:
        f(LabelElementTag<unsigned short>());
        break;
    case LabelElementKind::Int32:
        f(LabelElementTag<int>());
        break;
    case LabelElementKind::UInt32:
        f(LabelElementTag<unsigned int>());
        break;
    case LabelElementKind::Float:
        f(LabelElementTag<float>());
        break;
    case LabelElementKind::Int64:
        f(LabelElementTag<long long>());
        break;
    case LabelElementKind::UInt64:
        f(LabelElementTag<unsigned long long>());
        break;
    case LabelElementKind::Double:
        f(LabelElementTag<double>());
        break;
    case LabelElementKind::Text:
        f(LabelElementTag<QString>());
        break;
    }
}

#endif
