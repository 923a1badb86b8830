#ifndef QV_TEST_READREPLYBUILDER_H
#define QV_TEST_READREPLYBUILDER_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include "ByteOrder.h"

// Read replies as a controller sends them: SendRRData header and packet
// items with consistent lengths around a CIP reply.
inline QByteArray readReply(quint8 service, quint8 status, const QVector<quint16> &ext,
                            const QByteArray &data, quint16 command = 0x6F, quint32 encapStatus = 0)
{
    QByteArray cip;
    le::put8(cip, service);
    le::put8(cip, 0);
    le::put8(cip, status);
    le::put8(cip, quint8(ext.size()));
    for (quint16 w : ext)
        le::put16(cip, w);
    cip.append(data);
    QByteArray f;
    le::put16(f, command);
    le::put16(f, quint16(16 + cip.size()));
    f.append(QByteArray::fromHex("11223344"));
    le::put32(f, encapStatus);
    f.append(QByteArray(12, '\0'));
    f.append(QByteArray::fromHex("000000000a0002000000 0000b200"));
    le::put16(f, quint16(cip.size()));
    f.append(cip);
    return f;
}

#endif
