#include "EipProtocol.h"
#include "LibQuorvex.h"
#include "LocalClock.h"
#include "WriteEncoding.h"

#include <QDebug>

namespace
{

// The element count travels as a 16-bit field.
constexpr int MaxWriteCount = 0xFFFF;

void warnLongText(const CmdQuorvex &link, const QString &name, int count,
                  const writeencoding::Encoded &e)
{
    qWarning().noquote() << QString::fromUtf8("lib[Quorvex]写入文本过长 %1:%2  %3 len = %4 "
                                              "index = %5 bytes = %6 limit = %7")
                                .arg(link.hostAddress.toString(), QString::number(link.tcpPort),
                                     name, QString::number(count), QString::number(e.longTextIndex),
                                     QString::number(e.longTextBytes),
                                     QString::number(cip::StringDataSize));
}

} // namespace

// The value comes back as the host handed it in, with the outcome in
// `status`: a refusal carries the time of the call and sends nothing, a
// transfer the time it was confirmed, a link failure no time at all.
CLabelVariable LibQuorvex::Write_data(QString area, DataType type, CLabelVariable value, int count,
                                      QString name)
{
    int refusal = LR_Success;
    writeencoding::Encoded e;
    if (area.isEmpty()) {
        refusal = LR_BadAddress;
    } else if (count < 1 || count > MaxWriteCount) {
        refusal = LR_BadCount;
    } else {
        e = writeencoding::encode(type, value.values, count);
        refusal = e.status;
        if (e.longTextIndex >= 0)
            warnLongText(link, name, count, e);
    }
    if (refusal != LR_Success) {
        value.status = refusal;
        value.timestamp = localclock::now();
        return value;
    }

    const int rc = link.Write_area(area, name, e.typeBytes, count, e.data, e.elementSize);
    switch (rc) {
    case 0:
        value.status = LR_Success;
        value.timestamp = localclock::now();
        return value;
    case -1:
        value.status = LR_LinkFailed;
        break;
    case -2:
        value.status = LR_NoReply;
        break;
    case -3:
        value.status = LR_NotConnected;
        break;
    default:
        value.status = LR_Initial;
        break;
    }
    value.timestamp = QDateTime();
    return value;
}
