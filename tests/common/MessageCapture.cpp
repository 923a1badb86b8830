#include "MessageCapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace
{
QMutex captureMutex;
MessageCapture *current = nullptr;
} // namespace

MessageCapture::MessageCapture()
{
    QMutexLocker lock(&captureMutex);
    m_outer = current;
    current = this;
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    QMutexLocker lock(&captureMutex);
    qInstallMessageHandler(m_previous);
    current = m_outer;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker lock(&captureMutex);
    if (current != nullptr)
        current->m_entries.append({type, msg});
}

QList<MessageCapture::Entry> MessageCapture::entries() const
{
    QMutexLocker lock(&captureMutex);
    return m_entries;
}

QStringList MessageCapture::lines(QtMsgType type) const
{
    QMutexLocker lock(&captureMutex);
    QStringList out;
    for (const Entry &e : m_entries) {
        if (e.type == type)
            out << e.text;
    }
    return out;
}

int MessageCapture::count(QtMsgType type) const
{
    return lines(type).size();
}

bool MessageCapture::contains(QtMsgType type, const QString &text) const
{
    return lines(type).contains(text);
}

void MessageCapture::clear()
{
    QMutexLocker lock(&captureMutex);
    m_entries.clear();
}
