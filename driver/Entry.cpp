#include "CDriveBaseClass.h"
#include "LibQuorvex.h"

extern "C" CDriveBaseClass *getSharedLibrary()
{
    return new LibQuorvex();
}
