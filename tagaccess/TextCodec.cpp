#include "TextCodec.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "LabelListAccess.h"

namespace textcodec
{

namespace
{

QString textOf(QByteArray chars)
{
    // The characters end at the first zero byte, if any before the length.
    const int zero = chars.indexOf('\0');
    if (zero >= 0)
        chars.truncate(zero);
    return QString::fromUtf8(chars);
}

// Texts of a host value, checked before anything is encoded.
bool textsOf(const QVariant &values, int count, writeencoding::Encoded &e, QList<QString> *texts)
{
    if (!labelHoldsList<QString>(values)) {
        e.status = LR_WrongElementType;
        return false;
    }
    *texts = labelListOf<QString>(values);
    if (texts->size() < count) {
        e.status = LR_IndexOutOfRange;
        return false;
    }
    return true;
}

bool tooLong(writeencoding::Encoded &e, int index, const QByteArray &text, int limit)
{
    if (text.size() <= limit)
        return false;
    e.status = LR_WrongElementType;
    e.longTextIndex = index;
    e.longTextBytes = text.size();
    e.textLimit = limit;
    e.data.clear();
    return true;
}

} // namespace

Decoded decodeStructures(const QByteArray &bytes, int count, Layout layout)
{
    Decoded d;
    if (count <= 0)
        return d;
    const qint64 body = qMax<qint64>(0, bytes.size() - HandleSize);
    if (layout.size == 0) {
        // Structures of one size: the bytes divide into them.
        const qint64 each = (body + count - 1) / count;
        layout.size = int(qMin<qint64>(each, 0x7FFFFFFF));
        layout.room = layout.size - LenSize;
    }
    d.room = layout.room;
    const qint64 need = HandleSize + qint64(count) * layout.size;
    if (layout.size <= LenSize || bytes.size() < need) {
        d.need = qMax<qint64>(need, HandleSize + qint64(count) * (LenSize + 1));
        return d;
    }
    for (int i = 0; i < count; ++i) {
        const qint64 at = HandleSize + qint64(i) * layout.size;
        const qint32 len = static_cast<qint32>(le::getPadded(bytes, at, LenSize));
        if (len < 0 || len > layout.room) {
            d.badIndex = i;
            d.badLength = len;
            d.texts.clear();
            return d;
        }
        d.texts.append(textOf(bytes.mid(int(at + LenSize), len)));
    }
    return d;
}

Decoded decodeShort(const QByteArray &bytes, int count)
{
    Decoded d;
    d.room = MaxShortText;
    qint64 at = 0;
    for (int i = 0; i < count; ++i) {
        if (at >= bytes.size()) {
            d.need = at + 1;
            d.texts.clear();
            return d;
        }
        const int len = quint8(bytes.at(int(at)));
        if (at + 1 + len > bytes.size()) {
            d.need = at + 1 + len;
            d.texts.clear();
            return d;
        }
        d.texts.append(textOf(bytes.mid(int(at + 1), len)));
        at += 1 + len;
    }
    return d;
}

writeencoding::Encoded encodeStructures(const QVariant &values, int count, quint16 handle,
                                        Layout layout)
{
    writeencoding::Encoded e;
    le::put16(e.typeBytes, cip::TypeStructure);
    le::put16(e.typeBytes, handle);
    QList<QString> texts;
    if (!textsOf(values, count, e, &texts))
        return e;
    e.elementSize = layout.size;
    e.data.reserve(count * layout.size);
    for (int i = 0; i < count; ++i) {
        const QByteArray text = texts.at(i).toUtf8();
        if (tooLong(e, i, text, layout.room))
            return e;
        le::put32(e.data, static_cast<quint32>(text.size()));
        e.data.append(text);
        // DATA past the text, and the structure's pad, are zeros.
        e.data.append(layout.size - LenSize - text.size(), '\0');
    }
    return e;
}

writeencoding::Encoded encodeShort(const QVariant &values, int count)
{
    writeencoding::Encoded e;
    le::put16(e.typeBytes, cip::TypeShortString);
    QList<QString> texts;
    if (!textsOf(values, count, e, &texts))
        return e;
    // Elements of their own length: parts may cut anywhere.
    e.elementSize = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray text = texts.at(i).toUtf8();
        if (tooLong(e, i, text, MaxShortText))
            return e;
        le::put8(e.data, static_cast<quint8>(text.size()));
        e.data.append(text);
    }
    return e;
}

} // namespace textcodec
