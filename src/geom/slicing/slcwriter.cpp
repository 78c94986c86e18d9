#include "geom/slicing/slcwriter.h"

#include "geom/slicing/contour.h"
#include "geom/slicing/slice.h"

#include <QFileDevice>
#include <QIODevice>
#include <QSysInfo>

#include <cmath>
#include <cstring>

namespace {

const char defaultHeader[] = "-SLCVER 2.0 -UNIT MM -TYPE PART";
const int reservedBytes = 256;
const qint32 endMark = -1;

// CR LF SUB and the reserved block after the header text.
const QByteArray &headerTail()
{
    static const QByteArray tail = QByteArray("\r\n\x1a", 3) + QByteArray(reservedBytes, '\0');
    return tail;
}

float quietNaN()
{
    const quint32 bits = 0x7FA00000u;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

SlcWriter::SlcWriter(QIODevice *device)
    : m_stream(device)
    , m_header(QByteArray(defaultHeader) + headerTail())
    , m_nextZ(quietNaN())
{
    m_stream.setByteOrder(QDataStream::LittleEndian);
    m_stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
}

SlcWriter::~SlcWriter()
{
    if (!m_finished)
        writeTermination();
}

void SlcWriter::setHeader(const QByteArray &text)
{
    if (text.isEmpty() || !std::isnan(m_nextZ))
        return;
    m_header = text.trimmed() + headerTail();
}

QByteArray SlcWriter::header() const
{
    return m_header;
}

bool SlcWriter::isWritable()
{
    QIODevice *device = m_stream.device();
    if (!device)
        return false;
    if (device->isWritable())
        return true;
    // note: an open device is never reopened: that would drop what it was opened for.
    return !device->isOpen() && device->open(QIODevice::WriteOnly);
}

bool SlcWriter::writeSlice(const geom::Slice &slice, bool countGaps)
{
    if (m_finished || m_stream.status() != QDataStream::Ok || !isWritable())
        return false;
    QIODevice *device = m_stream.device();
    if (std::isnan(m_nextZ)) {
        if (device->pos() > 0)
            device->seek(0);
        if (m_stream.writeRawData(m_header.constData(), m_header.size()) != m_header.size()) {
            m_stream.setStatus(QDataStream::WriteFailed);
            return false;
        }
        m_stream << qint8(1) << slice.z() << slice.thickness() << 0.0f << 0.0f;
    }

    const int n = slice.contourCount();
    m_stream << slice.z() << qint32(n);
    for (int i = 0; i < n && m_stream.status() == QDataStream::Ok; ++i) {
        const QVector<geom::Vector2f> &points = slice.contour(i)->points();
        const int m = points.size();
        const bool close =
            m != 0 && (points.first().x != points.last().x || points.first().y != points.last().y);
        qint32 gaps = 0;
        if (countGaps) {
            for (int k = 0; k + 1 < m; ++k)
                if (points[k] == points[k + 1])
                    ++gaps;
        }
        m_stream << qint32(m + (close ? 1 : 0)) << gaps;
        if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
            // One block per boundary: the points in memory are the x, y floats the format wants.
            const int bytes = m * int(sizeof(geom::Vector2f));
            if (m_stream.writeRawData(reinterpret_cast<const char *>(points.constData()), bytes) != bytes)
                m_stream.setStatus(QDataStream::WriteFailed);
        } else {
            for (const geom::Vector2f &p : points)
                m_stream << p.x << p.y;
        }
        if (close)
            m_stream << points.first().x << points.first().y;
    }
    m_nextZ = slice.z() + slice.thickness();
    return m_stream.status() == QDataStream::Ok;
}

int SlcWriter::writeSlices(const QList<geom::Slice> &slices, bool countGaps)
{
    int written = 0;
    for (int i = 0; i < slices.size(); ++i) {
        if (writeSlice(slices.at(i), countGaps))
            ++written;
        else if (written == 0)
            return -1;
    }
    return written;
}

bool SlcWriter::writeTermination()
{
    if (std::isnan(m_nextZ) || m_stream.status() != QDataStream::Ok)
        return false;
    m_stream << m_nextZ << endMark;
    return m_stream.status() == QDataStream::Ok;
}

bool SlcWriter::finish()
{
    if (m_finished)
        return status() == QDataStream::Ok;
    m_finished = true;
    writeTermination();
    bool ok = m_stream.status() == QDataStream::Ok;
    if (auto *file = qobject_cast<QFileDevice *>(m_stream.device())) {
        if (file->isOpen() && !file->flush())
            ok = false;
        if (file->error() != QFileDevice::NoError)
            ok = false;
    }
    if (!ok)
        m_stream.setStatus(QDataStream::WriteFailed);
    return ok;
}

QDataStream::Status SlcWriter::status() const
{
    return m_stream.status();
}
