#include "EipProtocol.h"
#include "TagDatabase.h"

#include <QJsonArray>
#include <QJsonObject>
#include <functional>

namespace qsim
{

namespace
{

QJsonArray series(int n, const std::function<QJsonValue(int)> &f)
{
    QJsonArray a;
    for (int i = 0; i < n; ++i)
        a.append(f(i));
    return a;
}

// The set is fixed: a failure here is a programming error, and the check
// keeps it from going unnoticed.
void must(bool ok, const QString &error)
{
    if (!ok)
        qFatal("default tag set: %s", qPrintable(error));
}

} // namespace

TagDatabase defaultTags()
{
    TagDatabase db;
    QString err;
    auto tag = [&](const char *name, const TypeRef &t, const QVector<int> &dims,
                   const QJsonValue &v) {
        must(db.addTag(QLatin1String(name), t, dims, &err), err);
        must(db.setValue(QLatin1String(name), v, &err), err);
    };
    auto atomic = &TagDatabase::atomicType;

    tag("BoolTag", atomic(cip::TypeBool), {}, true);
    tag("SintTag", atomic(cip::TypeSint), {}, -5);
    tag("IntTag", atomic(cip::TypeInt), {}, -1234);
    tag("DintTag", atomic(cip::TypeDint), {}, 42);
    tag("LintTag", atomic(cip::TypeLint), {}, QStringLiteral("1234567890123"));
    tag("UsintTag", atomic(cip::TypeUsint), {}, 200);
    tag("UintTag", atomic(cip::TypeUint), {}, 60000);
    tag("UdintTag", atomic(cip::TypeUdint), {}, 4000000000.0);
    tag("UlintTag", atomic(cip::TypeUlint), {}, QStringLiteral("18000000000000000000"));
    tag("RealTag", atomic(cip::TypeReal), {}, 1.5);
    tag("LrealTag", atomic(cip::TypeLreal), {}, 2.25);
    tag("ByteTag", atomic(cip::TypeByte), {}, QStringLiteral("0xA5"));
    tag("WordTag", atomic(cip::TypeWord), {}, QStringLiteral("0xBEEF"));
    tag("DwordTag", atomic(cip::TypeDword), {}, QStringLiteral("0xDEADBEEF"));
    tag("LwordTag", atomic(cip::TypeLword), {}, QStringLiteral("0x0123456789ABCDEF"));

    tag("DintArray", atomic(cip::TypeDint), {10}, series(10, [](int i) { return i * 10; }));
    tag("BigArray", atomic(cip::TypeDint), {20000}, series(20000, [](int i) { return i; }));
    tag("IntArray", atomic(cip::TypeInt), {300}, series(300, [](int i) { return i - 150; }));
    tag("RealArray", atomic(cip::TypeReal), {1000}, series(1000, [](int i) { return i * 0.5; }));
    tag("Grid", atomic(cip::TypeDint), {4, 5},
        series(20, [](int i) { return 10 * (i / 5) + i % 5; }));
    tag("Cube", atomic(cip::TypeInt), {2, 3, 4},
        series(24, [](int i) { return 100 * (i / 12) + 10 * (i / 4 % 3) + i % 4; }));
    tag("BoolArray", atomic(cip::TypeBool), {64}, series(64, [](int k) { return k % 3 == 0; }));

    tag("StringTag", db.stringType(), {}, QStringLiteral("Hello, PLC"));
    // Text types made like STRING, of other lengths, and a short string.
    const auto textType = [&](const char *name, quint16 handle, int room) {
        const TypeRef t = db.addStruct(QLatin1String(name), handle,
                                       {{QStringLiteral("LEN"), atomic(cip::TypeDint), {}, 0},
                                        {QStringLiteral("DATA"), atomic(cip::TypeSint), {room}, 0}},
                                       &err);
        must(t.isStruct(), err);
        return t;
    };
    const TypeRef string20 = textType("STRING20", 0x3F10, 20);
    const TypeRef string8 = textType("STRING_8", 0x3F11, 8);
    tag("Text20", string20, {}, QStringLiteral("Twenty at the most"));
    tag("Text8", string8, {}, QStringLiteral("Eight!"));
    tag("Texts20", string20, {3},
        QJsonArray{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
    tag("ShortText", atomic(cip::TypeShortString), {}, QStringLiteral("Short"));
    tag("Names", db.stringType(), {5},
        QJsonArray{QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"),
                   QStringLiteral("Delta"), QStringLiteral("Echo")});

    const TypeRef motor = db.addStruct(QStringLiteral("MotorType"), 0x8A01,
                                       {{QStringLiteral("Rpm"), atomic(cip::TypeDint), {}, 0},
                                        {QStringLiteral("Temp"), atomic(cip::TypeReal), {}, 0},
                                        {QStringLiteral("Name"), db.stringType(), {}, 0},
                                        {QStringLiteral("Limits"), atomic(cip::TypeDint), {4}, 0}},
                                       &err);
    must(motor.isStruct(), err);
    tag("Motor", motor, {},
        QJsonObject{{QStringLiteral("Rpm"), 1500},
                    {QStringLiteral("Temp"), 36.5},
                    {QStringLiteral("Name"), QStringLiteral("Pump-1")},
                    {QStringLiteral("Limits"), QJsonArray{10, 20, 30, 40}}});
    tag("Motors", motor, {3}, series(3, [](int m) {
            return QJsonObject{
                {QStringLiteral("Rpm"), 1000 + 100 * m},
                {QStringLiteral("Temp"), 20.5 + m},
                {QStringLiteral("Name"), QStringLiteral("Pump-") + QChar('A' + m)},
                {QStringLiteral("Limits"), series(4, [m](int k) { return 10 * m + k + 1; })}};
        }));

    const TypeRef deep =
        db.addStruct(QStringLiteral("DeepType"), 0x8A04,
                     {{QStringLiteral("Code"), atomic(cip::TypeDint), {}, 0}}, &err);
    must(deep.isStruct(), err);
    const TypeRef inner = db.addStruct(QStringLiteral("InnerType"), 0x8A03,
                                       {{QStringLiteral("Level"), atomic(cip::TypeInt), {}, 0},
                                        {QStringLiteral("Deep"), deep, {}, 0}},
                                       &err);
    must(inner.isStruct(), err);
    const TypeRef cfg = db.addStruct(QStringLiteral("CfgType"), 0x8A02,
                                     {{QStringLiteral("Limits"), atomic(cip::TypeDint), {8}, 0},
                                      {QStringLiteral("Gain"), atomic(cip::TypeReal), {}, 0},
                                      {QStringLiteral("Inner"), inner, {}, 0}},
                                     &err);
    must(cfg.isStruct(), err);
    tag("Cfg", cfg, {},
        QJsonObject{
            {QStringLiteral("Limits"), series(8, [](int i) { return 100 + i; })},
            {QStringLiteral("Gain"), 0.75},
            {QStringLiteral("Inner"),
             QJsonObject{{QStringLiteral("Level"), 7},
                         {QStringLiteral("Deep"), QJsonObject{{QStringLiteral("Code"), 99}}}}}});
    return db;
}

} // namespace qsim
