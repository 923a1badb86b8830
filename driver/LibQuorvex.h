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
#include "TagAddress.h"
#include "TagKnowledge.h"

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
    // The status a link result stands for: 0, 7, 8 and 9 for 0, -1, -2, -3.
    static int linkStatus(int rc);
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

    // Bits, BOOL array elements and texts (tagaccess/BitAccess.cpp,
    // tagaccess/TextAccess.cpp), which need to know the controller's type.
    // An integer's bits from bit `firstBit` of the element at `area` on;
    // `width` its bytes when known, else 0.
    struct BitTarget {
        QString area;      // the element holding the first bit
        QString arrayArea; // its array, when `area` is an element of one
        quint32 index = 0; // the element's index there
        quint64 firstBit = 0;
        int width = 0;
    };
    CLabelVariable readAddress(const tagaddress::Address &a, DataType type, int count,
                               const QString &name);
    CLabelVariable Read_bits(const BitTarget &target, DataType type, int count,
                             const QString &name);
    CLabelVariable writeAddress(const tagaddress::Address &a, DataType type, CLabelVariable value,
                                int count, const QString &name);
    CLabelVariable Write_bits(const BitTarget &target, DataType type, CLabelVariable value,
                              int count, const QString &name);
    CLabelVariable Write_texts(const QString &area, TagKnowledge::Type known, CLabelVariable value,
                               int count, const QString &name);
    int textMembers(const QString &area, const QString &name);
    // The type at `area`, from what was learned on this connection or from
    // a read of one element of it; the link's result (0: known).
    int learnType(const QString &area, const QString &name, TagKnowledge::Type *out);
    // What a reply taught: the type at `area`, a text structure's size.
    void noteReply(const QString &area, quint16 replyType, const QByteArray &bytes, int count);
    // The bit of an integer an address ending in `.N` names.
    static BitTarget integerBit(const tagaddress::Address &a);
    // The array of an indexed address, of which a BOOL array is one of words.
    BitTarget boolArrayBit(const tagaddress::Address &a) const;
    // One Read-Modify-Write (or, with bitwrite=readwrite where the controller
    // has none, a read and a write) of the element at `area`.
    int modifyBits(const QString &area, quint16 typeCode, quint64 setBits, quint64 keepBits,
                   const QString &name, int count);

    CmdQuorvex link;
    TagKnowledge knowledge;
    // The address of the tag read last: a host polls the same tags over and
    // over, and parsing the name again cost a tenth of a read's own work.
    struct {
        QString name;
        tagaddress::Address address;
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
