#ifndef QUORVEX_TOOLS_BROWSEDTYPES_H
#define QUORVEX_TOOLS_BROWSEDTYPES_H

#include "ControllerBrowse.h"
#include "TagRequest.h"

#include <QVector>

// A tag named without a type, typed from the controller's tag list: an
// atomic tag becomes one read of its whole array, a structure one read per
// atomic member, nested members by their dotted path.
namespace tools
{

// Bounds the reads one structure may expand into.
constexpr int MaxMemberReads = 4096;

// The read type of an atomic type code; DT_None when it has none.
DataType dataTypeFor(quint16 atomic);

// Appends the reads of `tag` (as given on the command line) to *out, or
// `tag` itself with the default type when `tags` does not have it; false
// with the reason when its type is not readable or it is too large.
bool typedReads(const QVector<BrowsedTag> &tags, const browse::TemplateCache &templates,
                const QString &tag, QVector<TagRequest> *out, QString *error);

// One browse of `connection`: each request without a type replaced by its
// typed reads, then the reads of every tag whose name matches the glob
// `pattern` (none when it is empty). False with the reason; *listed then
// tells whether the tag list itself was read. A serial line is not
// browsed: its requests keep the default type.
bool typeFromController(const QString &connection, const QString &pattern,
                        QVector<TagRequest> *requests, QString *error, bool *listed = nullptr);

// The type of each request without one, for a write: one atomic or text
// type per tag (a structure is written member by member, by name). The
// tags that keep the default type, for want of the list naming them (all
// of them on a serial line), go to *unlisted.
bool writeTypesFromController(const QString &connection, QVector<TagRequest *> requests,
                              QString *error, bool *listed, QStringList *unlisted);

} // namespace tools

#endif
