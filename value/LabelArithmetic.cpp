#include "CLabelVariable.h"

#include "LabelElementKind.h"
#include "LabelElementOps.h"
#include "LabelListAccess.h"

#include <algorithm>

namespace
{

// The right-hand operand arrives const, but reading an element records its
// outcome in accessStatus (mutable) and touches nothing else.
CLabelVariable &readable(const CLabelVariable &value)
{
    return const_cast<CLabelVariable &>(value);
}

template <typename T> int listLength(const CLabelVariable &value)
{
    return labelListOf<T>(value.values).size();
}

// Operands qualify when their lists have one length. They are then combined
// over the left count through the accessors, so a list longer than count
// (booleans always are) gives its first count elements and a shorter one
// reads zero for what is missing; so do two empty ones (nothing read, or not
// lists of T at all), like any other pair of equal length.
constexpr int MaxPaddedCount = 0xFFFF;

template <typename T>
QList<T> combineLists(CLabelVariable &lhs, const CLabelVariable &rhs, LabelArithOp op)
{
    QList<T> out;
    const int length = listLength<T>(lhs);
    if (length != listLength<T>(rhs) || lhs.count <= 0)
        return out;
    const auto at = LabelAccessor<T>::at;
    CLabelVariable &right = readable(rhs);
    // A count far beyond the lists (no read yields more than 65535
    // elements) would only pad zeros until the list cannot grow and the
    // host aborts; the padding stops at the largest count a read can have.
    const int stop = std::min(lhs.count, std::max(length, MaxPaddedCount));
    out.reserve(std::min(stop, length));
    for (int i = 0; i < stop; ++i) {
        const T a = (lhs.*at)(i);
        const T b = (right.*at)(i);
        out.append(labelops::combine<T>(op, a, b));
    }
    return out;
}

CLabelVariable arithmetic(CLabelVariable &lhs, const CLabelVariable &rhs, LabelArithOp op)
{
    const LabelElementKind kind = labelElementKind(lhs.type);
    if (kind == LabelElementKind::None ||
        (kind == LabelElementKind::Text && op != LabelArithOp::Add))
        return CLabelVariable();

    CLabelVariable result;
    result.status = rhs.status;
    result.accessStatus = LR_Initial;
    result.timestamp = QDateTime::currentDateTime();
    result.tagName = rhs.tagName;
    result.count = rhs.count;
    result.type = rhs.type;
    result.auxInt = 0;
    result.auxText = rhs.auxText;

    visitLabelElementKind(kind, [&](auto tag) {
        using T = typename decltype(tag)::type;
        result.values = QVariant::fromValue(combineLists<T>(lhs, rhs, op));
    });
    return result;
}

bool sameDescription(const CLabelVariable &a, const CLabelVariable &b)
{
    return a.status == b.status && a.tagName == b.tagName && a.count == b.count &&
           a.type == b.type && a.auxText == b.auxText;
}

template <typename T>
bool sameElements(CLabelVariable &lhs, const CLabelVariable &rhs, bool descriptionsAgree)
{
    const int length = listLength<T>(lhs);
    if (length != listLength<T>(rhs))
        return false;
    if (lhs.count <= 0)
        return descriptionsAgree;
    const auto at = LabelAccessor<T>::at;
    CLabelVariable &right = readable(rhs);
    // Past the lists' end both sides read zero, so those pairs are equal;
    // one read there leaves the same accessStatus (10) as reading them all
    // would, without a pass over a host count far beyond the data.
    const int stop = std::min(lhs.count, length + 1);
    for (int i = 0; i < stop; ++i) {
        const T a = (lhs.*at)(i);
        const T b = (right.*at)(i);
        if (!descriptionsAgree || !(a == b))
            return false;
    }
    return true;
}

} // namespace

CLabelVariable CLabelVariable::operator+(const CLabelVariable &rhs)
{
    return arithmetic(*this, rhs, LabelArithOp::Add);
}

CLabelVariable CLabelVariable::operator-(const CLabelVariable &rhs)
{
    return arithmetic(*this, rhs, LabelArithOp::Sub);
}

CLabelVariable CLabelVariable::operator*(const CLabelVariable &rhs)
{
    return arithmetic(*this, rhs, LabelArithOp::Mul);
}

CLabelVariable CLabelVariable::operator/(const CLabelVariable &rhs)
{
    return arithmetic(*this, rhs, LabelArithOp::Div);
}

bool CLabelVariable::operator==(const CLabelVariable &rhs)
{
    const bool descriptionsAgree = sameDescription(*this, rhs);
    const LabelElementKind kind = labelElementKind(type);
    if (kind == LabelElementKind::None)
        return descriptionsAgree;
    bool equal = false;
    visitLabelElementKind(kind, [&](auto tag) {
        using T = typename decltype(tag)::type;
        equal = sameElements<T>(*this, rhs, descriptionsAgree);
    });
    return equal;
}
