// The text, diagnostic and binary stream forms of Vector3f, Vector2f and Vector2d.

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

#include <QIODevice>
#include <QLocale>

namespace geom {

namespace {

// The locale's group separator, or the pad character where that separator is a no-break space
// (which would glue the numbers together for a reader).
QChar textSeparator(const QTextStream &s)
{
    const QChar c = s.locale().groupSeparator();
    return c == QChar(0x00A0) ? s.padChar() : c;
}

// note: a count from a file may be anything; the elements are read in bounded chunks so that the
// memory taken follows the bytes the device actually delivers, not the count it claims.
constexpr qint64 ReadChunkBytes = qint64(1) << 20;

template <typename V>
int writeRawArray(QDataStream &s, const V *data, int n)
{
    QIODevice *device = s.device();
    if (s.status() != QDataStream::Ok || !device || n < 0 || (n > 0 && !data))
        return 0;
    s << qint32(n);
    if (s.status() != QDataStream::Ok)
        return 0;
    const qint64 written = device->write(reinterpret_cast<const char *>(data), qint64(n) * qint64(sizeof(V)));
    if (written < 0) {
        s.setStatus(QDataStream::WriteFailed);
        return -1;
    }
    return int(written / qint64(sizeof(V)));
}

template <typename V>
int readRawArray(QDataStream &s, QVector<V> &out)
{
    QIODevice *device = s.device();
    if (s.status() != QDataStream::Ok || !device)
        return 0;
    qint32 n = 0;
    s >> n;
    if (s.status() != QDataStream::Ok)
        return 0;
    if (n < 0) {
        s.setStatus(QDataStream::ReadCorruptData);
        return 0;
    }
    constexpr qint64 elementSize = qint64(sizeof(V));
    constexpr int chunk = int(ReadChunkBytes / elementSize);
    QVector<V> buffer;
    int done = 0;
    while (done < n) {
        const int want = qMin(n - done, chunk);
        buffer.resize(done + want);
        const qint64 bytes = want * elementSize;
        const qint64 got = device->read(reinterpret_cast<char *>(buffer.data() + done), bytes);
        if (got < 0) {
            s.setStatus(QDataStream::ReadCorruptData);
            return -1;
        }
        if (got < bytes) {
            done += int(got / elementSize);
            buffer.resize(done);
            s.setStatus(QDataStream::ReadPastEnd);
            break;
        }
        done += want;
    }
    out.swap(buffer);
    return done;
}

} // namespace

QDebug operator<<(QDebug dbg, const Vector3f &v)
{
    dbg.nospace() << "V(" << v.x << ", " << v.y << ", " << v.z << ')';
    return dbg.space();
}

QDebug operator<<(QDebug dbg, const Vector2f &v)
{
    dbg.nospace() << "P(" << v.x << ", " << v.y << ')';
    return dbg.space();
}

QDebug operator<<(QDebug dbg, const Vector2d &v)
{
    dbg.nospace() << "P(" << v.x << ", " << v.y << ')';
    return dbg.space();
}

QTextStream &operator<<(QTextStream &s, const Vector3f &v)
{
    const QChar sep = textSeparator(s);
    return s << v.x << sep << v.y << sep << v.z;
}

QTextStream &operator<<(QTextStream &s, const Vector2f &v)
{
    return s << v.x << textSeparator(s) << v.y;
}

QTextStream &operator<<(QTextStream &s, const Vector2d &v)
{
    return s << v.x << textSeparator(s) << v.y;
}

QTextStream &operator>>(QTextStream &s, Vector3f &v)
{
    QChar skipped;
    return s >> v.x >> skipped >> v.y >> skipped >> v.z;
}

QTextStream &operator>>(QTextStream &s, Vector2f &v)
{
    QChar skipped;
    return s >> v.x >> skipped >> v.y;
}

QTextStream &operator>>(QTextStream &s, Vector2d &v)
{
    QChar skipped;
    return s >> v.x >> skipped >> v.y;
}

int writeVector3fArray(QDataStream &s, const Vector3f *data, int n)
{
    return writeRawArray(s, data, n);
}

int writeVector2fArray(QDataStream &s, const Vector2f *data, int n)
{
    return writeRawArray(s, data, n);
}

int writeVector2dArray(QDataStream &s, const Vector2d *data, int n)
{
    return writeRawArray(s, data, n);
}

int readVector3fArray(QDataStream &s, QVector<Vector3f> &v)
{
    return readRawArray(s, v);
}

int readVector2fArray(QDataStream &s, QVector<Vector2f> &v)
{
    return readRawArray(s, v);
}

int readVector2dArray(QDataStream &s, QVector<Vector2d> &v)
{
    return readRawArray(s, v);
}

} // namespace geom
