#include <QCoreApplication>
#include <cstdio>

#include <CDriveBaseClass.h>

// tinyhost ADDRESS:PORT TAG -> prints the tag's first DINT, exit 0 on success
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    CDriveBaseClass *drv = getSharedLibrary();
    const int rc = drv->ConnectDrive(QString::fromLocal8Bit(argv[1]));
    if (rc != 0) {
        std::fprintf(stderr, "connect failed: %d\n", rc);
        return 1;
    }
    CLabelVariable v = drv->ReadVariable(QString::fromLocal8Bit(argv[2]), DT_Int32);
    std::printf("status=%d value=%d\n", v.status, v.atInt32(0));
    drv->DisConnectDrive();
    drv->DestroyFree();
    return v.status == 0 ? 0 : 1;
}
