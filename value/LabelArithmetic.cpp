// placeholder until the operators land
#include "CLabelVariable.h"
CLabelVariable CLabelVariable::operator+(const CLabelVariable &) { return {}; }
CLabelVariable CLabelVariable::operator-(const CLabelVariable &) { return {}; }
CLabelVariable CLabelVariable::operator*(const CLabelVariable &) { return {}; }
CLabelVariable CLabelVariable::operator/(const CLabelVariable &) { return {}; }
bool CLabelVariable::operator==(const CLabelVariable &) { return false; }
