#include "CmdQuorvex.h"
#include "EncapFrame.h"

#include <QDebug>

int CmdQuorvex::send_reg()
{
    const QByteArray request = encap::registerSessionRequest();
    if (Connection_status() == -3)
        return -3;
    if (traceEnabled)
        qDebug().noquote() << QString("lib[Quorvex]读命令 %1:%2 msg : %3")
                                  .arg(hostAddress.toString())
                                  .arg(tcpPort)
                                  .arg(QString::fromLatin1(request.toHex()));
    QByteArray reply;
    const int rc = SendData(request, reply, 50);
    if (traceEnabled)
        qDebug().noquote() << QString("lib[Quorvex]响应 %1:%2 msg : %3")
                                  .arg(hostAddress.toString())
                                  .arg(tcpPort)
                                  .arg(QString::fromLatin1(reply.toHex()));
    if (rc != 0)
        return rc;
    // An error reply (say, unsupported protocol version) carries no usable
    // handle; taking its bytes 4..7 would send every later request with a
    // session the controller never granted, so the old handle stays.
    const encap::RegisterReply judged = encap::judgeRegisterReply(reply);
    if (!judged.ok) {
        qWarning().noquote() << QString("lib[Quorvex]注册会话失败 %1:%2 status = 0x%3 msg : %4")
                                    .arg(hostAddress.toString())
                                    .arg(tcpPort)
                                    .arg(judged.status, 0, 16)
                                    .arg(QString::fromLatin1(reply.toHex()));
        return -1;
    }
    sessionHandle = judged.handle;
    return 0;
}
