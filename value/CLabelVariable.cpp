// placeholder until the value object lands
#include "CLabelVariable.h"
CLabelVariable::CLabelVariable()
    : status(1), accessStatus(1), count(0), type(DT_None), auxInt(0) {}
CLabelVariable::CLabelVariable(const CLabelVariable &) = default;
CLabelVariable &CLabelVariable::operator=(const CLabelVariable &) = default;
CLabelVariable::~CLabelVariable() = default;
bool CLabelVariable::atbool(int) { return false; }
char CLabelVariable::atchar(int) { return 0; }
char CLabelVariable::atInt8(int) { return 0; }
unsigned char CLabelVariable::atUInt8(int) { return 0; }
short CLabelVariable::atInt16(int) { return 0; }
unsigned short CLabelVariable::atUInt16(int) { return 0; }
int CLabelVariable::atInt32(int) { return 0; }
unsigned int CLabelVariable::atUInt32(int) { return 0; }
float CLabelVariable::atFloat(int) { return 0; }
long long CLabelVariable::atInt64(int) { return 0; }
unsigned long long CLabelVariable::atUInt64(int) { return 0; }
double CLabelVariable::atDouble(int) { return 0; }
QString CLabelVariable::atQString(int) { return {}; }
void registerLabelListTypes() {}
