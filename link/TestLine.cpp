#include "CmdQuorvex.h"

#include "EipProtocol.h"
#include "EncapFrame.h"

// SendData over a stand-in transport: what it returns has all come by the
// time the wait would start, so the frames are taken apart as SendData
// does once nothing more arrives, without waiting for a deadline.
int CmdQuorvex::testLineExchange(const QByteArray &request, QByteArray &reply)
{
    recvBuffer = testLine(request).left(eip::MaxFrameSize);
    const QByteArray context = encap::senderContext(request);
    if (takeOwnFrame(request, reply))
        return 0;
    oweReply(true, context);
    if (recvBuffer.isEmpty())
        return -1;
    reply.append(recvBuffer);
    recvBuffer.clear();
    return 0;
}
