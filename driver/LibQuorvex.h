#ifndef LIBQUORVEX_H
#define LIBQUORVEX_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include "CDriveBaseClass.h"
#include "CLabelVariable.h"
#include "CmdQuorvex.h"
#include "LinkOptions.h"

// The driver facade the host gets from getSharedLibrary(). QObject comes
// first, the host interface second; qt_metacast("CDriveBaseClass") yields
// the interface sub-object.
class LibQuorvex : public QObject, public CDriveBaseClass
{
    Q_OBJECT

public:
    LibQuorvex();
    ~LibQuorvex() override;

    QString getDriveName() override;
    QString getversion_number() override;
    QString DebugCmd(EDebugCmdType cmd) override;
    int DisConnectDrive() override;
    int ConnectDrive(QString text) override;
    void SetConnectPar(QString text) override;
    CLabelVariable ReadVariable(QString name, DataType type) override;
    CLabelVariable ReadVariable(QString name, DataType type, int count) override;
    CLabelVariable WriteVariable(QString name, DataType type, CLabelVariable value) override;
    CLabelVariable WriteVariable(QString name, DataType type, CLabelVariable value,
                                 int count) override;
    int DestroyFree() override;

    // Tag addresses (tagaccess/TagAddress.cpp).
    QString getArea(QString address);
    int getBytelen(DataType type, int count);

    // Read path (tagaccess/ReadPath.cpp).
    CLabelVariable Read_data(QString area, DataType type, int count, QString name);
    // The values of a reply that came, by what its data type allows; a
    // refusal sets status 7 and logs why.
    void decodeReply(CLabelVariable &t, const QByteArray &bytes, quint16 replyType, DataType type,
                     int count, const QString &name);

    // Decoders (tagaccess/Decoders.cpp).
    QVariant set_variant_bool(QByteArray bytes, int n);
    QVariant set_variant_Int8(QByteArray bytes, int n);
    QVariant set_variant_UInt8(QByteArray bytes, int n);
    QVariant set_variant_Int16(QByteArray bytes, int n);
    QVariant set_variant_UInt16(QByteArray bytes, int n);
    QVariant set_variant_Int32(QByteArray bytes, int n);
    QVariant set_variant_UInt32(QByteArray bytes, int n);
    QVariant set_variant_fload(QByteArray bytes, int n);
    QVariant set_variant_Int64(QByteArray bytes, int n);
    QVariant set_variant_UInt64(QByteArray bytes, int n);
    QVariant set_variant_double(QByteArray bytes, int n);
    QVariant set_variant_string(QByteArray bytes, int n);

    // Writes (tagaccess/WritePath.cpp): carried to the controller only while
    // the connection string asks for it; otherwise WriteVariable echoes.
    CLabelVariable Write_data(QString area, DataType type, CLabelVariable value, int count,
                              QString name);
    bool writeEnabled = false;

    CmdQuorvex link;
    // The area of the tag read last: a host polls the same tags over and
    // over, and parsing the name again cost a tenth of a read's own work.
    struct {
        QString name, area;
    } lastRead;
    quint32 connectPar = 851;
    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int stopBits = 0;
    QString parity;
    QString ipAddress;
    int ipPort = 0;
    // Options after the connection string's first ";", kept until the next
    // ConnectDrive; the defaults when that string had none or was refused.
    LinkOptions options;

    // Which transport the last parsed connection string named, so that a
    // disconnect closes that one and not merely the first ever configured.
    enum class Named { None, Serial, Network };
    Named lastNamed = Named::None;
};

#endif
