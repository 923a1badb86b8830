#ifndef QUORVEX_SIM_TAGPATH_H
#define QUORVEX_SIM_TAGPATH_H

#include "TagDatabase.h"

#include <QByteArray>
#include <QVector>

// Request paths of tag services: a symbolic segment for the tag, then any
// chain of member names and element segments (one per dimension).
namespace qsim
{

struct PathSegment {
    bool symbolic = false;
    QByteArray name;   // symbolic
    quint32 index = 0; // element
};

// Splits the path bytes into segments; false on a segment this controller
// does not understand or one that runs past the end.
bool parsePath(const QByteArray &path, QVector<PathSegment> *out);

// Where a path points: `available` elements of `type`, the first at byte
// `offset` of `tag->data`.
struct PathTarget {
    quint8 status = 0; // CIP general status, 0 when resolved
    quint16 extStatus = 0;
    const TagDef *tag = nullptr;
    TypeRef type;
    qint64 offset = 0;
    qint64 available = 0;
};

PathTarget resolvePath(const QVector<PathSegment> &segments, const TagDatabase &db);

} // namespace qsim

#endif
