#ifndef QUORVEX_SIM_BROWSESERVICE_H
#define QUORVEX_SIM_BROWSESERVICE_H

#include "CipService.h"

#include <QByteArray>

// The tag list (Symbol class) and the structure layouts (Template class)
// of the simulated controller, served from its tag database.
namespace qsim
{

// True when the path addresses the Symbol or the Template class, which
// these services answer instead of the tag services.
bool isBrowsePath(const QByteArray &path);

QByteArray browseService(quint8 service, const QByteArray &path, const QByteArray &data,
                         const TagDatabase &db, const CipOptions &options);

} // namespace qsim

#endif
