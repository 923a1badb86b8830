// placeholder until the session lands
#include "CmdQuorvex.h"
int CmdQuorvex::send_reg() { return -3; }
