#ifndef CLABELVARIABLE_H
#define CLABELVARIABLE_H

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

// The host is compiled against its own copy of this declaration and passes
// values across the library boundary by value: the nine fields, their order
// and their types are part of the binary contract. No base, no virtuals.

#if defined(__GNUC__)
#define QUORVEX_VALUE_EXPORT __attribute__((visibility("default")))
#else
#define QUORVEX_VALUE_EXPORT
#endif

// Element type codes shared with the host. The host's enumeration goes on
// past 12 (up to 40, grouped in the arithmetic dispatch); a fixed underlying
// type keeps every host code, negative ones included, a valid value.
enum DataType : int {
    DT_None = 0,
    DT_Bool = 1,
    DT_Int8 = 2,
    DT_UInt8 = 3,
    DT_Int16 = 4,
    DT_UInt16 = 5,
    DT_Int32 = 6,
    DT_UInt32 = 7,
    DT_Float = 8,
    DT_Int64 = 9,
    DT_UInt64 = 10,
    DT_Double = 11,
    DT_String = 12,
    DT_HostLast = 40
};

// Result codes of `status` and `accessStatus` (one numbering; 5 and 6 unused).
enum LabelResult : int {
    LR_Success = 0,
    LR_Initial = 1,
    LR_UnsupportedType = 2,
    LR_BadAddress = 3,
    LR_BadCount = 4,
    LR_LinkFailed = 7,   // link result -1: reply rejected
    LR_NoReply = 8,      // link result -2
    LR_NotConnected = 9, // link result -3
    LR_IndexOutOfRange = 10,
    LR_WrongElementType = 11
};

class QUORVEX_VALUE_EXPORT CLabelVariable
{
public:
    CLabelVariable();
    CLabelVariable(const CLabelVariable &other);
    CLabelVariable &operator=(const CLabelVariable &other);
    ~CLabelVariable();

    bool atbool(int index);
    char atchar(int index);
    char atInt8(int index);
    unsigned char atUInt8(int index);
    short atInt16(int index);
    unsigned short atUInt16(int index);
    int atInt32(int index);
    unsigned int atUInt32(int index);
    float atFloat(int index);
    long long atInt64(int index);
    unsigned long long atUInt64(int index);
    double atDouble(int index);
    QString atQString(int index);

    CLabelVariable operator+(const CLabelVariable &rhs);
    CLabelVariable operator-(const CLabelVariable &rhs);
    CLabelVariable operator*(const CLabelVariable &rhs);
    CLabelVariable operator/(const CLabelVariable &rhs);
    bool operator==(const CLabelVariable &rhs);

    int status;
    // Accessors record their outcome here even when reading the const
    // right-hand operand of operator==.
    mutable int accessStatus;
    QVariant values;
    QDateTime timestamp;
    QString tagName;
    int count;
    DataType type;
    int auxInt;
    QString auxText;
};

// Registers the twelve list types under Qt's own names (QList<int>, ...).
// Safe to call any number of times from any thread.
QUORVEX_VALUE_EXPORT void registerLabelListTypes();

#endif
