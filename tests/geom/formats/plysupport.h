#pragma once

#include "geom/formats/plystream.h"

#include <QBuffer>
#include <QMetaType>
#include <QMutex>
#include <QStringList>
#include <QtGlobal>

Q_DECLARE_METATYPE(geom::PlyProperty)
Q_DECLARE_METATYPE(geom::PlyElement)

// Helpers shared by the PLY tests.
namespace plytest {

// Collects every message sent through Qt's handler while it lives, as "warning: text" or
// "critical: text" (debug messages are dropped); safe for messages from other threads.
class MessageLog
{
public:
    MessageLog()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QStringList messages() const
    {
        QMutexLocker locker(&m_mutex);
        return m_messages;
    }
    void clear()
    {
        QMutexLocker locker(&m_mutex);
        m_messages.clear();
    }
    bool contains(const QString &text) const
    {
        const QStringList all = messages();
        for (const QString &m : all) {
            if (m.contains(text))
                return true;
        }
        return false;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        const char *prefix = nullptr;
        switch (type) {
        case QtWarningMsg:
            prefix = "warning: ";
            break;
        case QtCriticalMsg:
            prefix = "critical: ";
            break;
        default:
            return;
        }
        if (MessageLog *log = s_current) {
            QMutexLocker locker(&log->m_mutex);
            log->m_messages.append(QLatin1String(prefix) + text);
        }
    }

    static inline MessageLog *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_messages;
};

// A one-line description of a schema for table-driven comparisons, such as
// "vertex 3: float x, float y | face 1: list uchar uint vertex_indices".
inline QByteArray describe(const QList<geom::PlyElement> &elements)
{
    QList<QByteArray> parts;
    for (const geom::PlyElement &element : elements) {
        QList<QByteArray> properties;
        for (const geom::PlyProperty &p : element.properties) {
            QByteArray text;
            if (p.isList())
                text += "list " + geom::PlyStream::typeName(p.countType) + ' ';
            properties.append(text + geom::PlyStream::typeName(p.type) + ' ' + p.name);
        }
        parts.append(element.name + ' ' + QByteArray::number(element.count) + ": " + properties.join(", "));
    }
    return parts.join(" | ");
}

// Polls stream.progress() until finished() answers true; true when every value lay within 0..1
// and none fell below the one before.
template <typename Finished>
bool progressRisesSteadily(const geom::PlyStream &stream, Finished finished)
{
    float last = 0.0f;
    bool steady = true;
    while (!finished()) {
        const float p = stream.progress();
        steady = steady && p >= 0.0f && p <= 1.0f && p >= last;
        last = p;
    }
    return steady;
}

// The header a default mesh schema gets, for building test files by hand.
inline QByteArray header(const QByteArray &format, const QByteArray &body)
{
    return "ply\nformat " + format + " 1.0\n" + body + "end_header\n";
}

} // namespace plytest
