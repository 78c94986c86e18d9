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

void MessageCapture::handle(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    QMutexLocker locker(&captureMutex);
    if (activeCapture && activeCapture->m_kept.contains(type))
        activeCapture->m_messages << text;
}

} // namespace meshtest
