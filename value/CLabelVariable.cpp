#include "CLabelVariable.h"

#include "LabelListAccess.h"

namespace
{

template <typename T> T elementAt(const QVariant &values, int index, int &accessStatus)
{
    if (!labelHoldsList<T>(values)) {
        accessStatus = LR_WrongElementType;
        return T();
    }
    const QList<T> list = labelListOf<T>(values);
    if (index < 0 || index >= list.size()) {
        accessStatus = LR_IndexOutOfRange;
        return T();
    }
    accessStatus = LR_Success;
    return list.at(index);
}

} // namespace

CLabelVariable::CLabelVariable()
    : status(LR_Initial), accessStatus(LR_Initial), count(0), type(DT_None), auxInt(0)
{
}

CLabelVariable::CLabelVariable(const CLabelVariable &other) = default;
CLabelVariable &CLabelVariable::operator=(const CLabelVariable &other) = default;
CLabelVariable::~CLabelVariable() = default;

bool CLabelVariable::atbool(int index)
{
    return elementAt<bool>(values, index, accessStatus);
}
char CLabelVariable::atchar(int index)
{
    return elementAt<char>(values, index, accessStatus);
}
char CLabelVariable::atInt8(int index)
{
    return elementAt<char>(values, index, accessStatus);
}

unsigned char CLabelVariable::atUInt8(int index)
{
    return elementAt<unsigned char>(values, index, accessStatus);
}

short CLabelVariable::atInt16(int index)
{
    return elementAt<short>(values, index, accessStatus);
}

unsigned short CLabelVariable::atUInt16(int index)
{
    return elementAt<unsigned short>(values, index, accessStatus);
}

int CLabelVariable::atInt32(int index)
{
    return elementAt<int>(values, index, accessStatus);
}

unsigned int CLabelVariable::atUInt32(int index)
{
    return elementAt<unsigned int>(values, index, accessStatus);
}

float CLabelVariable::atFloat(int index)
{
    return elementAt<float>(values, index, accessStatus);
}

long long CLabelVariable::atInt64(int index)
{
    return elementAt<long long>(values, index, accessStatus);
}

unsigned long long CLabelVariable::atUInt64(int index)
{
    return elementAt<unsigned long long>(values, index, accessStatus);
}

double CLabelVariable::atDouble(int index)
{
    return elementAt<double>(values, index, accessStatus);
}

QString CLabelVariable::atQString(int index)
{
    return elementAt<QString>(values, index, accessStatus);
}

// qRegisterMetaType without a name registers under Qt's own template name
// (QList<int>, QList<uint>, ...), which is what the host registers too, so
// both sides of the boundary get the same type ids. Qt's registry is locked
// and the per-type id is cached atomically, so repeated and concurrent calls
// are harmless.
void registerLabelListTypes()
{
    qRegisterMetaType<QList<bool>>();
    qRegisterMetaType<QList<char>>();
    qRegisterMetaType<QList<unsigned char>>();
    qRegisterMetaType<QList<short>>();
    qRegisterMetaType<QList<unsigned short>>();
    qRegisterMetaType<QList<int>>();
    qRegisterMetaType<QList<unsigned int>>();
    qRegisterMetaType<QList<float>>();
    qRegisterMetaType<QList<long long>>();
    qRegisterMetaType<QList<unsigned long long>>();
    qRegisterMetaType<QList<double>>();
    qRegisterMetaType<QList<QString>>();
}
