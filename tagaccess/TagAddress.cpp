// placeholder until addresses land
#include "LibQuorvex.h"
QString LibQuorvex::getArea(QString address) { return address; }
int LibQuorvex::getBytelen(DataType, int count) { return count; }
