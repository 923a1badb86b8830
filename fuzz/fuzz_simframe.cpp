// The simulated controller's request parser, which takes whatever a client
// sends: whole frames (optionally given a registered session and matching
// lengths, so the fuzzer reaches the CIP layer), bare CIP requests and
// request paths. Replies are always well-formed frames.

#include "CipService.h"
#include "ConnectionTable.h"
#include "EipProtocol.h"
#include "FrameHandler.h"
#include "FuzzSupport.h"
#include "TagPath.h"

namespace
{

const qsim::TagDatabase &db()
{
    static const qsim::TagDatabase d = qsim::defaultTags();
    return d;
}

void checkFrameReply(const qsim::FrameResult &r)
{
    if (r.reply.isEmpty())
        return;
    FUZZ_CHECK(r.reply.size() >= eip::HeaderSize);
    FUZZ_CHECK(r.reply.size() <= eip::MaxFrameSize);
    FUZZ_CHECK(le::getPadded(r.reply, 2, 2) == quint64(r.reply.size() - eip::HeaderSize));
    FUZZ_CHECK(eip::completeFrameSize(r.reply) == r.reply.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    db();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint8 mode = in.u8();
    const int forced = (mode & 0x40) ? int(in.u8()) : -1;
    QByteArray body = in.rest();

    qsim::FrameOptions options;
    options.requireSession = (mode & 0x20) == 0;
    options.cip.forcedStatus = forced;
    // Route setups and connections, so that Forward Open and SendUnitData
    // get past their first checks.
    options.cip.route.slot = (mode & 0x10) ? 0 : -1;
    options.cip.route.direct = (mode & 0x08) != 0;
    if (mode & 0x04)
        options.cip.route.bridge = QByteArrayLiteral("10.0.0.7");
    qsim::ConnectionTable connections;
    options.cip.client.connections = &connections;
    qsim::SessionTable sessions;

    switch (mode % 4) {
    case 0:
        checkFrameReply(qsim::handleFrame(body, sessions, db(), options));
        break;
    case 1: {
        // A session registered first; its handle and the length go in.
        const quint32 handle = sessions.open();
        if (body.size() >= eip::HeaderSize) {
            le::set16(body, 2, quint16(body.size() - eip::HeaderSize));
            for (int i = 0; i < 4; ++i)
                body[4 + i] = char(handle >> (8 * i));
        }
        if (body.size() >= eip::OffCipMessage)
            le::set16(body, 38, quint16(body.size() - eip::OffCipMessage));
        checkFrameReply(qsim::handleFrame(body, sessions, db(), options));
        // The same frame again on the same table: sessions may have changed.
        checkFrameReply(qsim::handleFrame(body, sessions, db(), options));
        break;
    }
    case 2: {
        const QByteArray reply = qsim::handleCip(body, db(), options.cip);
        FUZZ_CHECK(reply.size() >= 4);
        FUZZ_CHECK(reply.size() <= 0xFFFF);
        break;
    }
    default: {
        QVector<qsim::PathSegment> segments;
        if (qsim::parsePath(body, &segments)) {
            const qsim::PathTarget t = qsim::resolvePath(segments, db());
            if (t.status == 0) {
                FUZZ_CHECK(t.tag != nullptr);
                FUZZ_CHECK(t.offset >= 0 && t.available >= 0);
            }
        }
        break;
    }
    }
    return 0;
}
