#ifndef CDRIVEBASECLASS_H
#define CDRIVEBASECLASS_H

#include <QString>

#include "CLabelVariable.h"

// Host debug command codes; any other value is answered with a null text.
enum EDebugCmdType : int {
    DBG_StartDebug = 0,
    DBG_StopDebug = 1,
    DBG_BuildStamp = 2,
    DBG_DriveName = 3
};

// The host calls through this table in exactly this slot order. There is no
// virtual destructor: the host never deletes a driver through this pointer.
class CDriveBaseClass
{
public:
    virtual QString getDriveName() = 0;
    virtual QString getversion_number() = 0;
    virtual QString DebugCmd(EDebugCmdType cmd) = 0;
    virtual int ConnectDrive(QString text) = 0;
    virtual void SetConnectPar(QString text) = 0;
    virtual int DisConnectDrive() = 0;
    virtual CLabelVariable ReadVariable(QString name, DataType type) = 0;
    virtual CLabelVariable ReadVariable(QString name, DataType type, int count) = 0;
    virtual CLabelVariable WriteVariable(QString name, DataType type, CLabelVariable value) = 0;
    virtual CLabelVariable WriteVariable(QString name, DataType type, CLabelVariable value,
                                         int count) = 0;
    virtual int DestroyFree() = 0;

protected:
    ~CDriveBaseClass() = default;
};

// The one exported entry: a new, independent driver each call.
extern "C" __attribute__((visibility("default"))) CDriveBaseClass *getSharedLibrary();

#endif
