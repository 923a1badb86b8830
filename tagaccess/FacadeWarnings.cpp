#include "FacadeWarnings.h"

#include "ByteOrder.h"
#include "LinkLog.h"
#include "ReplyTypes.h"

namespace facadewarn
{

namespace
{

using linklog::hex;
using linklog::hexNumber;

template <typename... Rest>
void warn(const char *format, const CmdQuorvex &link, const QString &tag, int count,
          const Rest &...rest)
{
    linklog::warn(linklog::line(format, link.logPlace(), tag, count, rest...));
}

} // namespace

void typeMismatch(const CmdQuorvex &link, const QString &tag, int count, quint16 replyType,
                  DataType asked)
{
    warn("lib[Quorvex]数据类型不符 %1:%2  %3 len = %4 reply = %5 %6 asked = %7 %8", link, tag,
         count, hexNumber(replyType, 4), replytypes::cipTypeName(replyType),
         QString::number(int(asked)), replytypes::dataTypeName(asked));
}

void tooShort(const CmdQuorvex &link, const QString &tag, int count, qint64 need,
              const QByteArray &data)
{
    warn("lib[Quorvex]报文数据长度不足 %1:%2  %3 len = %4 need = %5 msg : %6", link, tag, count,
         QString::number(need), hex(data));
}

void outOfRange(const CmdQuorvex &link, const QString &tag, int count, int index,
                const QString &value, quint16 replyType, DataType asked)
{
    warn("lib[Quorvex]数值超出范围 %1:%2  %3 len = %4 index = %5 value = %6 reply = %7 %8 "
         "asked = %9 %10",
         link, tag, count, QString::number(index), value, hexNumber(replyType, 4),
         replytypes::cipTypeName(replyType), QString::number(int(asked)),
         replytypes::dataTypeName(asked));
}

void bitOutOfRange(const CmdQuorvex &link, const QString &tag, int count, quint64 bit,
                   int widthBits)
{
    warn("lib[Quorvex]位号超出范围 %1:%2  %3 len = %4 bit = %5 width = %6", link, tag, count,
         QString::number(bit), QString::number(widthBits));
}

void textLength(const CmdQuorvex &link, const QString &tag, int count, int index, qint64 length,
                int room)
{
    warn("lib[Quorvex]文本长度错误 %1:%2  %3 len = %4 index = %5 length = %6 limit = %7", link, tag,
         count, QString::number(index), QString::number(length), QString::number(room));
}

void longText(const CmdQuorvex &link, const QString &tag, int count, int index, int bytes,
              int limit)
{
    warn("lib[Quorvex]写入文本过长 %1:%2  %3 len = %4 index = %5 bytes = %6 limit = %7", link, tag,
         count, QString::number(index), QString::number(bytes), QString::number(limit));
}

void writeRefused(const CmdQuorvex &link, const QString &tag, int count, quint8 status,
                  const QVector<quint16> &ext, const QByteArray &frame)
{
    warn("lib[Quorvex]写入被拒绝 %1:%2  %3 len = %4 status = %5 ext = %6 msg : %7", link, tag,
         count, hexNumber(status, 2), linklog::extText(ext), hex(frame));
}

} // namespace facadewarn
