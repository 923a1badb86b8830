#include "LibQuorvex.h"

// Writes stop here: the value is labelled and handed back, nothing is sent.
CLabelVariable LibQuorvex::WriteVariable(QString name, DataType type, CLabelVariable value)
{
    return WriteVariable(name, type, value, 1);
}

CLabelVariable LibQuorvex::WriteVariable(QString name, DataType type, CLabelVariable value,
                                         int count)
{
    value.tagName = name;
    value.type = type;
    value.count = count;
    return value;
}
