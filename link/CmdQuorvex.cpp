// placeholder until the transport lands
#include "CmdQuorvex.h"
CmdQuorvex::CmdQuorvex() = default;
CmdQuorvex::~CmdQuorvex() = default;
int CmdQuorvex::EthConnectDrive(QString, int) { return -3; }
int CmdQuorvex::EthDisConnectDrive() { return 1; }
int CmdQuorvex::serialConnectDrive(QString, int, int, int, QString) { return -1; }
int CmdQuorvex::serialDisConnectDrive() { return 1; }
int CmdQuorvex::SendData(QByteArray, QByteArray &, int) { return -1; }
int CmdQuorvex::Only_send(QByteArray) { return 1; }
int CmdQuorvex::waitForReady(int) { return 1; }
int CmdQuorvex::Connection_status() { return -3; }
void CmdQuorvex::mysleep(int) {}
int CmdQuorvex::deletetcpSocket() { return 0; }
int CmdQuorvex::deleteSerialPort() { return 0; }
int CmdQuorvex::DestroyFree() { return 1; }
void CmdQuorvex::TimerTimeOut() {}
void CmdQuorvex::Ethconnected() {}
void CmdQuorvex::Ethdisconnected() {}
void CmdQuorvex::EthreadyRead() {}
void CmdQuorvex::serialreadyRead() {}
bool CmdQuorvex::useSocket() const { return false; }
bool CmdQuorvex::useSerial() const { return false; }
void CmdQuorvex::discardPending() {}
void CmdQuorvex::waitStep(int) {}
