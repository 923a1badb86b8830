#ifndef QV_TEST_PLUGINHOST_H
#define QV_TEST_PLUGINHOST_H

#include <QLibrary>
#include <QList>
#include <QStringList>
#include <QVariant>

#include "CDriveBaseClass.h"
#include "LibQuorvex.h"

// The plug-in as a host holds it: loaded with QLibrary, drivers made by its
// entry, each released at the end through DestroyFree and its QObject side.
class PluginHost
{
public:
    using Entry = CDriveBaseClass *(*)();

    bool load(QString *error)
    {
        if (!lib.load()) {
            *error = lib.errorString();
            return false;
        }
        entry = reinterpret_cast<Entry>(lib.resolve("getSharedLibrary"));
        if (!entry)
            *error = QStringLiteral("no getSharedLibrary");
        return entry != nullptr;
    }

    CDriveBaseClass *newDriver()
    {
        CDriveBaseClass *d = entry();
        drivers.append(d);
        return d;
    }

    static LibQuorvex *facade(CDriveBaseClass *d) { return static_cast<LibQuorvex *>(d); }

    // Deleted as a host may, through its QObject side without DestroyFree.
    void destroy(CDriveBaseClass *d)
    {
        drivers.removeOne(d);
        delete static_cast<QObject *>(facade(d));
    }

    void releaseAll()
    {
        for (CDriveBaseClass *d : drivers) {
            d->DestroyFree();
            delete static_cast<QObject *>(facade(d));
        }
        drivers.clear();
    }

    ~PluginHost() { releaseAll(); }

private:
    QLibrary lib{QStringLiteral(QUORVEX_LIBRARY_PATH)};
    Entry entry = nullptr;
    QList<CDriveBaseClass *> drivers;
};

// The elements of a value's list as texts, with the list's type name first:
// Qt cannot compare these list types inside a QVariant.
inline QStringList elementsOf(const QVariant &v)
{
    QStringList out{QString::fromLatin1(v.typeName())};
    for (const QVariant &e : v.value<QVariantList>())
        out.append(e.userType() == QMetaType::Char ? QString::number(int(e.value<char>()))
                                                   : e.toString());
    return out;
}

#endif
