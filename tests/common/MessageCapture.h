#ifndef QV_TEST_MESSAGECAPTURE_H
#define QV_TEST_MESSAGECAPTURE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects what goes through Qt's message logger while it lives (any
// thread), and puts the previous handler back when it dies. Captures nest.
class MessageCapture
{
public:
    struct Entry {
        QtMsgType type;
        QString text;
    };

    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QList<Entry> entries() const;
    QStringList lines(QtMsgType type) const;
    int count(QtMsgType type) const;
    bool contains(QtMsgType type, const QString &text) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg);
    QtMessageHandler m_previous = nullptr;
    MessageCapture *m_outer = nullptr;
    QList<Entry> m_entries;
};

#endif
