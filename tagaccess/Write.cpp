#include "LibQuorvex.h"

// Without the connection string's write option a write stops here: the
// value is labelled and handed back, nothing is sent (hosts rely on it).
CLabelVariable LibQuorvex::WriteVariable(QString name, DataType type, CLabelVariable value)
{
    return WriteVariable(name, type, value, 1);
}

CLabelVariable LibQuorvex::WriteVariable(QString name, DataType type, CLabelVariable value,
                                         int count)
{
    if (writeEnabled)
        value = writeAddress(tagaddress::parse(name), type, value, count, name);
    value.tagName = name;
    value.type = type;
    value.count = count;
    return value;
}
