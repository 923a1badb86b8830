#include "CmdQuorvex.h"
#include "Identity.h"
#include "LinkLog.h"
#include "Waits.h"

#include <QDebug>

using linklog::hex;

namespace
{

const QString IdentityLabel = QStringLiteral("Identity");

int judged(identity::Verdict v)
{
    switch (v) {
    case identity::Verdict::Ok:
        return 0;
    case identity::Verdict::Empty:
        return -2;
    default:
        return -1;
    }
}

} // namespace

int CmdQuorvex::listIdentity(identity::ListedIdentity *out)
{
    if (Connection_status() == -3)
        return -3;
    QByteArray request = identity::listIdentityRequest(sessionHandle);
    channel.stamp(request);
    QByteArray reply;
    const int rc = SendData(request, reply, waits::ReplyWaitMs);
    if (traceEnabled)
        linklog::debug(linklog::line("lib[Quorvex]ListIdentity %1:%2  %3 len = %4 msg : %5", where,
                                     IdentityLabel, 1, hex(reply)));
    if (rc != 0 && reply.isEmpty())
        return -2;
    identity::ListedIdentity l;
    const int result = judged(identity::parseListIdentity(reply, &l));
    if (result == 0)
        *out = l;
    else
        linklog::warn(linklog::line("lib[Quorvex]ListIdentity 响应错误 %1:%2  %3 len = %4 msg : %5",
                                    where, IdentityLabel, 1, hex(reply)));
    return result;
}

int CmdQuorvex::readIdentity(identity::DeviceIdentity *out)
{
    QByteArray mr;
    const int rc = exchangeCip(identity::identityRequest(), mr, IdentityLabel, 1);
    if (rc != 0)
        return rc;
    identity::DeviceIdentity d;
    const int result = judged(identity::parseIdentityReply(mr, &d));
    if (result == 0)
        *out = d;
    else
        linklog::warn(linklog::line("lib[Quorvex]Identity 响应错误 %1:%2  %3 len = %4 msg : %5",
                                    where, IdentityLabel, 1, hex(mr)));
    return result;
}
