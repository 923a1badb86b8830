// The tag list paging and the template reading against a fake controller
// whose every reply is fuzz input.
//
// Input: mode, then replies, each a u16 length and that many bytes. Mode
// bit 0: read the template whose id follows (u16) instead of the tag list;
// bit 1: the tag list of program "Main".

#include "FuzzSupport.h"
#include "SymbolBrowse.h"
#include "TemplateRead.h"

namespace
{

struct FakeController {
    fuzz::Input &in;
    int requests = 0;
    int replies = 0;

    int exchange(QByteArray &reply)
    {
        ++requests;
        if (in.empty())
            return -2;
        reply = in.bytes(in.u16());
        ++replies;
        return 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::installQuietHandler();
    fuzz::Input in(data, size);
    const quint8 mode = in.u8();
    FakeController peer{in};
    const browse::MrExchange exchange = [&peer](const QByteArray &, QByteArray &reply) {
        return peer.exchange(reply);
    };
    if (mode & 1) {
        const quint16 id = in.u16();
        browse::TemplateCache cache;
        const bool ok = cache.fetch(exchange, id);
        FUZZ_CHECK(cache.all().size() <= browse::TemplateCache::MaxTemplates);
        FUZZ_CHECK(ok || !cache.error().isEmpty());
        FUZZ_CHECK(cache.requests() == peer.requests);
        for (const browse::StructType &t : cache.all())
            FUZZ_CHECK(t.members.size() * qint64(sizeof(quint64)) <=
                       browse::TemplateCache::MaxDefinitionBytes);
        return 0;
    }
    browse::ListLimits limits;
    const browse::SymbolList list =
        browse::listSymbols(exchange, (mode & 2) ? QStringLiteral("Main") : QString(), limits);
    // Every page but the last took a reply; none ran past the limits.
    FUZZ_CHECK(list.pages == peer.requests);
    FUZZ_CHECK(list.pages <= peer.replies + 1);
    FUZZ_CHECK(list.pages <= limits.maxPages);
    FUZZ_CHECK(list.symbols.size() <= limits.maxSymbols);
    FUZZ_CHECK(list.ok || !list.error.isEmpty());
    for (int i = 1; i < list.symbols.size(); ++i)
        FUZZ_CHECK(list.symbols.at(i).instance > list.symbols.at(i - 1).instance);
    return 0;
}
