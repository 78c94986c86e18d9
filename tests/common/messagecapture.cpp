#include "messagecapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace meshtest {

namespace {

QMutex captureMutex;
MessageCapture *activeCapture = nullptr;

} // namespace

MessageCapture::MessageCapture(std::initializer_list<QtMsgType> kept)
    : m_kept(kept)
{
    QMutexLocker locker(&captureMutex);
    activeCapture = this;
    m_previous = qInstallMessageHandler(&MessageCapture::handle);
}

MessageCapture::~MessageCapture()
{
    QMutexLocker locker(&captureMutex);
    qInstallMessageHandler(m_previous);
    activeCapture = nullptr;
}

QStringList MessageCapture::messages() const
{
    QMutexLocker locker(&captureMutex);
    return m_messages;
}

QStringList MessageCapture::categorisedMessages() const
{
    QMutexLocker locker(&captureMutex);
    QStringList categorised;
    for (int i = 0; i < m_messages.size(); ++i)
        categorised << m_categories.at(i) + QStringLiteral(": ") + m_messages.at(i);
    return categorised;
}

void MessageCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QMutexLocker locker(&captureMutex);
    if (activeCapture && activeCapture->m_kept.contains(type)) {
        activeCapture->m_messages << text;
        activeCapture->m_categories << QString::fromLatin1(context.category);
    }
}

} // namespace meshtest
