#ifndef LABELLISTACCESS_H
#define LABELLISTACCESS_H

#include <QList>
#include <QMetaType>
#include <QVariant>

#include "CLabelVariable.h"

// A value's elements are usable as a list of T only when the variant holds
// exactly QList<T>: the host relies on the list type matching the element
// type code, so no conversion between list types is ever attempted.
template <typename T> bool labelHoldsList(const QVariant &values)
{
    return values.userType() == qMetaTypeId<QList<T>>();
}

// A shared copy of the list, or an empty list when the variant holds
// something else.
template <typename T> QList<T> labelListOf(const QVariant &values)
{
    if (!labelHoldsList<T>(values))
        return QList<T>();
    return *static_cast<const QList<T> *>(values.constData());
}

// Calls visit(T()) with the element type a number DataType stands for
// (DT_Bool included), so that one template serves every number type; false
// for texts and codes that stand for none.
template <typename Visit> bool visitNumberType(DataType type, Visit &&visit)
{
    switch (type) {
    case DT_Bool:
        visit(bool());
        return true;
    case DT_Int8:
        visit(char());
        return true;
    case DT_UInt8:
        visit((unsigned char)0);
        return true;
    case DT_Int16:
        visit(short());
        return true;
    case DT_UInt16:
        visit((unsigned short)0);
        return true;
    case DT_Int32:
        visit(int());
        return true;
    case DT_UInt32:
        visit((unsigned int)0);
        return true;
    case DT_Float:
        visit(float());
        return true;
    case DT_Int64:
        visit((long long)0);
        return true;
    case DT_UInt64:
        visit((unsigned long long)0);
        return true;
    case DT_Double:
        visit(double());
        return true;
    default:
        return false;
    }
}

#endif
