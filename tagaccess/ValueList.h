#ifndef QUORVEX_VALUELIST_H
#define QUORVEX_VALUELIST_H

#include <QList>
#include <QtAlgorithms>

namespace valuelist
{

// A list of `n` default values, to be overwritten in place through its
// iterators. QList has no resize, and appending one element at a time calls
// into QtCore for each, which was most of the decoding of a large array.
// Here the list doubles by appending itself (one copy of its nodes) into
// room reserved once, with one element more wherever n's binary digits ask
// for it: about log2(n) steps and no allocation beyond the reservation.
template <typename T> QList<T> ofSize(int n)
{
    QList<T> list;
    if (n <= 0)
        return list;
    list.reserve(n);
    list.append(T());
    // The highest digit is the first element; the lower ones follow.
    for (int digit = 30 - int(qCountLeadingZeroBits(quint32(n))); digit >= 0; --digit) {
        list.append(list);
        if ((n >> digit) & 1)
            list.append(T());
    }
    return list;
}

} // namespace valuelist

#endif
