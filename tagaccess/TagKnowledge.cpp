#include "TagKnowledge.h"

#include "EipProtocol.h"

namespace
{

// LEN, the four bytes before the characters.
constexpr int TextLenSize = 4;

} // namespace

void TagKnowledge::follow(quint64 generation)
{
    if (generation == learnedUnder)
        return;
    learnedUnder = generation;
    types.clear();
    texts.clear();
    textTypes.clear();
    rmwRefused = false;
}

void TagKnowledge::noteType(const QString &area, quint16 code, quint16 handle)
{
    if (types.size() >= MaxAreas && !types.contains(area))
        types.clear();
    types.insert(area, Type{code, handle});
}

TagKnowledge::Text TagKnowledge::textOf(quint16 handle) const
{
    // The standard text's DATA is 82 bytes, then 2 pad bytes.
    if (handle == cip::StringHandle)
        return Text{cip::StringSize, cip::StringDataSize};
    return texts.value(handle);
}

void TagKnowledge::noteText(quint16 handle, int size)
{
    if (handle == cip::StringHandle || size <= TextLenSize)
        return;
    if (texts.size() >= MaxTexts && !texts.contains(handle))
        texts.clear();
    // A reply shows the structure's size, not where DATA ends inside it:
    // the bytes after LEN are taken as its room.
    texts.insert(handle, Text{size, size - TextLenSize});
}

int TagKnowledge::isText(quint16 handle) const
{
    if (handle == cip::StringHandle)
        return 1;
    const auto it = textTypes.constFind(handle);
    return it == textTypes.constEnd() ? 0 : (it.value() ? 1 : -1);
}

void TagKnowledge::noteIsText(quint16 handle, bool text)
{
    if (textTypes.size() >= MaxTexts && !textTypes.contains(handle))
        textTypes.clear();
    textTypes.insert(handle, text);
}
