#include "geom/formats/qrn.h"
#include "geom/core/hugepages.h"
#include "geom/formats/formatslog.h"

#include <QBuffer>
#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <climits>
#include <cstring>
#include <zlib.h>

namespace geom {
namespace Qrn {

namespace {

constexpr int VertexRecordSize = 12;
constexpr int ReadChunkSize = 1 << 16;
constexpr int WriteChunkSize = 1 << 18;
// Largest piece asked of a device at once while a byte array of a stated length grows.
constexpr qint64 RawGrowStep = 1 << 20;
// Deflate cannot expand data more than about 1032 to 1, so a length prefix above that says
// nothing true and must not size a buffer.
constexpr qint64 InflateRatioLimit = 1032;

void setupFixed(FixedHeader &header, quint32 version)
{
    std::memcpy(header.magic, "QRNK", 4);
    header.version = version;
}

template <typename H>
void setupTemplate(H &header, quint32 version)
{
    setupFixed(header, version);
    header.flags = 1;
    header.vertexCount = 0;
    std::memset(header.text, ' ', TextSize);
}

Vector3f vertexAt(const char *p)
{
    return Vector3f(qFromLittleEndian<float>(p), qFromLittleEndian<float>(p + 4),
                    qFromLittleEndian<float>(p + 8));
}

void appendRecords(QVector<Vector3f> &vertices, const char *p, int n)
{
    const int old = vertices.size();
    vertices.resize(old + n);
    Vector3f *out = vertices.data() + old;
    for (int i = 0; i < n; ++i, p += VertexRecordSize)
        out[i] = vertexAt(p);
}

QByteArray vertexListBytes(const QVector<Vector3f> &vertices)
{
    QByteArray bytes;
    {
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setByteOrder(QDataStream::LittleEndian);
        stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
        ChunkWriter writer(stream);
        writer.writeVertexList(vertices);
    }
    return bytes;
}

} // namespace

TaskRecord::TaskRecord(QIODevice *device)
    : stream(device)
{
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
    setupHeader(header, CurrentVersion);
}

bool TaskRecord::prepareDevice(QIODevice::OpenMode mode, int failure)
{
    QIODevice *device = stream.device();
    if (device && ((device->openMode() & mode) == mode || device->open(mode)))
        return true;
    status = failure;
    return false;
}

void setupHeader(Header &header, quint32 version)
{
    setupFixed(header, version);
}

void setupHeader(HeaderV5 &header, quint32 version)
{
    setupTemplate(header, version);
}

void setupHeader(HeaderV6 &header, quint32 version)
{
    setupTemplate(header, version);
}

int attributeWidth(quint32 flags)
{
    switch (flags & 7) {
    case 0:
        return 0;
    case 1:
    case 2:
    case 4:
        return 2;
    default:
        return 4;
    }
}

void compressVertices(Header &block, const QVector<Vector3f> &vertices)
{
    block.data = qCompress(vertexListBytes(vertices), -1);
}

void compressVertices(EncryptedVertices &block, const QVector<Vector3f> &vertices)
{
    block.data = qCompress(vertexListBytes(vertices), -1);
    block.checksum = qChecksum(block.data.constData(), uint(block.data.size()));
}

VersionFiveBlock versionFiveBlock(const QVector<Vector3f> &vertices, qint64 salt)
{
    VersionFiveBlock block;
    block.vertexCount = vertices.size();
    block.salt = salt;
    QDataStream stream(&block.data, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (const Vector3f &v : vertices) {
        if (stream.status() != QDataStream::Ok)
            break;
        stream << v.x << v.y << v.z;
    }
    return block;
}

QVector<Vector3f> readVersionFiveBlock(const VersionFiveBlock &block)
{
    QVector<Vector3f> vertices;
    const qint64 available = block.data.size() / VertexRecordSize;
    const int n = int(std::max<qint64>(0, std::min<qint64>(block.vertexCount, available)));
    appendRecords(vertices, block.data.constData(), n);
    return vertices;
}

QByteArray uncompress(const QByteArray &compressed)
{
    if (compressed.size() < 4)
        return QByteArray();
    const auto *in = reinterpret_cast<const uchar *>(compressed.constData());
    const qint64 stated = qFromBigEndian<quint32>(in);
    const qint64 inputSize = compressed.size() - 4;

    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK)
        return QByteArray();
    zs.next_in = const_cast<Bytef *>(in + 4);
    zs.avail_in = uInt(inputSize);

    QByteArray out;
    // note: the stated length is only a hint, capped by what the input can possibly produce.
    const qint64 hint = std::min<qint64>(stated, inputSize * InflateRatioLimit + 64);
    out.resize(int(std::max<qint64>(64, std::min<qint64>(hint, INT_MAX / 2))));
    qint64 produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (produced == out.size()) {
            if (out.size() >= INT_MAX / 2) {
                rc = Z_MEM_ERROR;
                break;
            }
            out.resize(int(std::min<qint64>(qint64(out.size()) * 2, INT_MAX / 2 + 1)));
        }
        zs.next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        zs.avail_out = uInt(out.size() - produced);
        rc = inflate(&zs, Z_NO_FLUSH);
        produced = out.size() - qint64(zs.avail_out);
        // A stream that needs more input than there is ends here as damaged.
        if (rc == Z_BUF_ERROR || (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0))
            break;
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return QByteArray();
    out.resize(int(produced));
    return out;
}

bool parseVertexList(const QByteArray &bytes, QVector<Vector3f> &vertices)
{
    vertices.clear();
    if (bytes.size() < 4)
        return false;
    const qint32 count = qFromLittleEndian<qint32>(bytes.constData());
    if (count < 0 || qint64(count) * VertexRecordSize > bytes.size() - 4)
        return false;
    appendRecords(vertices, bytes.constData() + 4, count);
    return true;
}

bool uncompressVertices(const Header &block, QVector<Vector3f> &vertices)
{
    return parseVertexList(uncompress(block.data), vertices);
}

QVector<Vector3f> decodeVertices(EncryptedVertices &block)
{
    QVector<Vector3f> result;
    const bool trusted =
        block.state == 1 ||
        (block.state == 0 && qChecksum(block.data.constData(), uint(block.data.size())) == block.checksum);
    if (trusted && parseVertexList(uncompress(block.data), result)) {
        block.state = 1;
        return result;
    }
    block.state = -1;
    qCCritical(lcQrn, "Qrn.EncryptedVertices decryption failed.");
    return QVector<Vector3f>();
}

// ChunkReader

ChunkReader::ChunkReader(QDataStream &stream)
    : m_stream(stream)
{
    m_buffer.resize(ReadChunkSize);
    m_pos = m_end = m_buffer.constData();
}

bool ChunkReader::refill(int n)
{
    QIODevice *device = m_stream.device();
    if (!ok() || !device) {
        m_stream.setStatus(QDataStream::ReadPastEnd);
        m_pos = m_end;
        return false;
    }
    char *base = m_buffer.data();
    const int left = int(m_end - m_pos);
    std::memmove(base, m_pos, size_t(left));
    int have = left;
    while (have < n) {
        const qint64 got = device->read(base + have, m_buffer.size() - have);
        m_deviceFailed = m_deviceFailed || got < 0;
        if (got <= 0)
            break;
        have += int(got);
    }
    m_pos = base;
    m_end = base + have;
    if (have < n) {
        m_stream.setStatus(QDataStream::ReadPastEnd);
        m_pos = m_end;
        return false;
    }
    return true;
}

bool ChunkReader::readRaw(QByteArray &out, qint64 n)
{
    if (n <= 0)
        return ok();
    const qint64 fromBuffer = std::min<qint64>(n, m_end - m_pos);
    out.append(m_pos, int(fromBuffer));
    m_pos += fromBuffer;
    qint64 left = n - fromBuffer;
    QIODevice *device = m_stream.device();
    while (left > 0 && ok() && device) {
        if (out.size() > INT_MAX - RawGrowStep)
            break;
        const int old = out.size();
        const int step = int(std::min(left, RawGrowStep));
        out.resize(old + step);
        const qint64 got = device->read(out.data() + old, step);
        m_deviceFailed = m_deviceFailed || got < 0;
        out.resize(old + int(std::max<qint64>(got, 0)));
        if (got <= 0)
            break;
        left -= got;
    }
    if (left > 0) {
        m_stream.setStatus(QDataStream::ReadPastEnd);
        return false;
    }
    return ok();
}

QByteArray ChunkReader::readByteArray()
{
    const quint32 length = readU32();
    QByteArray data;
    if (!ok() || length == 0xFFFFFFFFu)
        return data;
    readRaw(data, length);
    return data;
}

qint32 ChunkReader::readCount()
{
    const qint32 count = readI32();
    if (count >= 0)
        return count;
    setCorrupt();
    return 0;
}

void ChunkReader::readVertexList(QVector<Vector3f> &vertices)
{
    const qint32 count = readCount();
    if (ok())
        readVertexRecords(vertices, count);
}

void ChunkReader::readVertexRecords(QVector<Vector3f> &vertices, qint64 n)
{
    while (n > 0) {
        if (!need(VertexRecordSize))
            return;
        const int k = int(std::min<qint64>(n, (m_end - m_pos) / VertexRecordSize));
        // note: the room doubles ahead of the records that arrived, up to the stated count, and is
        // offered for huge pages before it is written.
        if (vertices.size() + k > vertices.capacity()) {
            const qint64 room = std::max<qint64>(vertices.size() + k, 2 * qint64(vertices.capacity()));
            vertices.reserve(int(std::min<qint64>(room, vertices.size() + n)));
            adviseHugePages(vertices);
        }
        appendRecords(vertices, m_pos, k);
        m_pos += qint64(k) * VertexRecordSize;
        n -= k;
    }
}

bool ChunkReader::atCleanEnd()
{
    if (m_pos != m_end)
        return false;
    QIODevice *device = m_stream.device();
    char byte;
    return !device || device->read(&byte, 1) == 0;
}

// ChunkWriter

ChunkWriter::ChunkWriter(QDataStream &stream)
    : m_stream(stream)
{
    m_buffer.resize(WriteChunkSize);
    m_data = m_buffer.data();
    m_capacity = m_buffer.size();
}

ChunkWriter::~ChunkWriter()
{
    flush();
}

bool ChunkWriter::flush()
{
    if (m_used > 0 && ok())
        m_stream.writeRawData(m_data, m_used);
    m_used = 0;
    return ok();
}

void ChunkWriter::writeRaw(const char *data, qint64 n)
{
    if (n <= m_capacity - m_used) {
        std::memcpy(m_data + m_used, data, size_t(n));
        m_used += int(n);
        return;
    }
    flush();
    while (n > 0 && ok()) {
        const int step = int(std::min<qint64>(n, INT_MAX));
        m_stream.writeRawData(data, step);
        data += step;
        n -= step;
    }
}

void ChunkWriter::writeByteArray(const QByteArray &data)
{
    writeU32(data.isNull() ? 0xFFFFFFFFu : quint32(data.size()));
    writeRaw(data.constData(), data.size());
}

void ChunkWriter::writeVertexList(const QVector<Vector3f> &vertices)
{
    writeU32(quint32(vertices.size()));
    for (const Vector3f &v : vertices) {
        if (m_capacity - m_used < VertexRecordSize)
            flush();
        char *p = m_data + m_used;
        qToLittleEndian<float>(v.x, p);
        qToLittleEndian<float>(v.y, p + 4);
        qToLittleEndian<float>(v.z, p + 8);
        m_used += VertexRecordSize;
    }
}

} // namespace Qrn
} // namespace geom
