#include "CmdQuorvex.h"
#include "EncapFrame.h"
#include "LinkLog.h"
#include "Waits.h"

int CmdQuorvex::send_reg()
{
    // Its context comes from the link's one counter, as every request's: the
    // first request of a link carries 1, as a registration always did.
    QByteArray request = encap::registerSessionRequest();
    channel.stamp(request);
    if (Connection_status() == -3)
        return -3;
    if (traceEnabled)
        linklog::debug(
            linklog::at("lib[Quorvex]读命令 %1:%2 msg : %3", where, linklog::hex(request)));
    QByteArray reply;
    const int rc = SendData(request, reply, waits::ReplyWaitMs);
    if (traceEnabled)
        linklog::debug(linklog::at("lib[Quorvex]响应 %1:%2 msg : %3", where, linklog::hex(reply)));
    if (rc != 0)
        return rc;
    // An error reply (say, unsupported protocol version) carries no usable
    // handle; taking its bytes 4..7 would send every later request with a
    // session the controller never granted, so the old handle stays.
    const encap::RegisterReply judged = encap::judgeRegisterReply(reply);
    if (!judged.ok) {
        linklog::warn(linklog::at("lib[Quorvex]注册会话失败 %1:%2 status = 0x%3 msg : %4", where,
                                  QString::number(judged.status, 16), linklog::hex(reply)));
        return -1;
    }
    sessionHandle = judged.handle;
    return 0;
}
