#include "LibQuorvex.h"

LibQuorvex::LibQuorvex()
{
    registerLabelListTypes();
}

// The link's own destructor releases its transport once more.
LibQuorvex::~LibQuorvex() = default;

QString LibQuorvex::getDriveName()
{
    return QStringLiteral("Quorvex");
}

QString LibQuorvex::getversion_number()
{
    return QStringLiteral("V1.0.5 20230511");
}

int LibQuorvex::DestroyFree()
{
    return link.DestroyFree();
}
