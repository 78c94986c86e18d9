#pragma once

#include <QStringList>
#include <QtGlobal>

#include <initializer_list>

namespace meshtest {

// Swallows every message printed while it lives, from any thread, and collects the texts of the
// kept types. One capture at a time; the previous handler returns when it ends.
class MessageCapture
{
public:
    explicit MessageCapture(std::initializer_list<QtMsgType> kept = {QtWarningMsg, QtCriticalMsg, QtInfoMsg});
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    // The collected texts, in the order they were printed.
    QStringList messages() const;
    // The same, each as "category: text" with the logging category it was printed in.
    QStringList categorisedMessages() const;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);

    QList<QtMsgType> m_kept;
    QStringList m_messages;
    QStringList m_categories;
    QtMessageHandler m_previous;
};

} // namespace meshtest
