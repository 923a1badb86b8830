#ifndef QUORVEX_TAGKNOWLEDGE_H
#define QUORVEX_TAGKNOWLEDGE_H

#include <QHash>
#include <QString>
#include <QtGlobal>

#include "TextCodec.h"

// What the driver learned of the controller's tags from their replies, for
// one connection: the data type at an area (a BOOL array is a DWORD array),
// and the size of each text structure. A new connection may reach another
// controller or another program, so all of it is forgotten then.
class TagKnowledge
{
public:
    struct Type {
        quint16 code = 0;   // the CIP type code; 0: not known
        quint16 handle = 0; // of a structure
    };
    using Text = textcodec::Layout;

    // Forgets everything when `generation` is not the one learned under.
    void follow(quint64 generation);

    Type typeAt(const QString &area) const { return types.value(area); }
    void noteType(const QString &area, quint16 code, quint16 handle = 0);

    // The text structure of `handle`; size 0 when not known.
    Text textOf(quint16 handle) const;
    void noteText(quint16 handle, int size);
    // Whether the structure of `handle` was seen to be a text type (a DINT
    // LEN and a SINT array DATA): 1 yes, -1 no, 0 not asked yet.
    int isText(quint16 handle) const;
    void noteIsText(quint16 handle, bool text);

    // The controller answered Read-Modify-Write with "service not supported".
    bool rmwRefused = false;

    // A host naming ever new tags cannot make the driver grow without
    // bound: past this many areas, what was learned is learned again.
    static constexpr int MaxAreas = 4096;
    static constexpr int MaxTexts = 1024;

private:
    quint64 learnedUnder = 0;
    QHash<QString, Type> types;
    QHash<quint16, Text> texts;
    QHash<quint16, bool> textTypes;
};

#endif
