// placeholder until tag reads land
#include "CmdQuorvex.h"
int CmdQuorvex::Read_area(QString, int, QByteArray *, QString, int) { return Connection_status(); }
int CmdQuorvex::Message_parsing(QByteArray, QByteArray *, int, QString) { return -2; }
