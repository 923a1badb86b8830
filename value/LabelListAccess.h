#ifndef LABELLISTACCESS_H
#define LABELLISTACCESS_H

#include <QList>
#include <QMetaType>
#include <QVariant>

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

#endif
