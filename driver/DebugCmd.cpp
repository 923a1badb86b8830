#include <QDate>
#include <QLocale>
#include <QTime>

#include "LibQuorvex.h"

namespace
{

// The compiler's date text pads a one-digit day with a space ("Mar  7 2024");
// the pair of spaces is folded first. A function-local static makes the
// first use thread-safe and retries it if it ever throws.
QDate buildDate()
{
    static const QDate date = [] {
        QString text = QStringLiteral(__DATE__);
        text.replace(QStringLiteral("  "), QStringLiteral(" "));
        const QLocale english(QLocale::English);
        QDate d = english.toDate(text, QStringLiteral("MMM dd yyyy"));
        if (!d.isValid()) // a one-digit day does not fit "dd"
            d = english.toDate(text, QStringLiteral("MMM d yyyy"));
        return d;
    }();
    return date;
}

} // namespace

QString LibQuorvex::DebugCmd(EDebugCmdType cmd)
{
    switch (cmd) {
    case DBG_StartDebug:
        link.traceEnabled = true;
        return QStringLiteral("StartDebug");
    case DBG_StopDebug:
        link.traceEnabled = false;
        return QStringLiteral("StopDebug");
    case DBG_BuildStamp: {
        const QTime time = QTime::fromString(QStringLiteral(__TIME__), QStringLiteral("hh:mm:ss"));
        return QStringLiteral("v1.0.5 %1 %2")
            .arg(buildDate().toString(QStringLiteral("yyyy-MM-dd")))
            .arg(time.toString(QStringLiteral("hh:mm:ss")));
    }
    case DBG_DriveName:
        return QStringLiteral("Quorvex");
    }
    return QString();
}
