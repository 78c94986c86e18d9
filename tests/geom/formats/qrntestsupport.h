#pragma once

// Helpers shared by the compressed-format tests: a builder of file content by hand, gzip
// wrapping through zlib, and a comparable form of a mesh's facets.

#include "geom/mesh/stlmesh.h"
#include "geom/mesh/vertexorder.h"

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QIODevice>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace qrntest {

// Little-endian file content written value by value, as the format lays it out.
class Content
{
public:
    Content()
        : m_stream(&m_bytes, QIODevice::WriteOnly)
    {
        m_stream.setByteOrder(QDataStream::LittleEndian);
        m_stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
    }

    // Magic, version and an 80-byte text starting with `text`.
    Content &header(qint32 version, const QByteArray &text = "qrn test", const char *magic = "QRNK")
    {
        m_stream.writeRawData(magic, 4);
        m_stream << version;
        QByteArray t = text.left(80);
        t.append(QByteArray(80 - t.size(), '\0'));
        m_stream.writeRawData(t.constData(), 80);
        return *this;
    }
    Content &u8(quint8 v) { return put(v); }
    Content &u16(quint16 v) { return put(v); }
    Content &i32(qint32 v) { return put(v); }
    Content &u32(quint32 v) { return put(v); }
    Content &i64(qint64 v) { return put(v); }
    Content &f32(float v) { return put(v); }
    Content &raw(const QByteArray &b)
    {
        m_stream.writeRawData(b.constData(), b.size());
        return *this;
    }
    // Count, then x, y, z per vertex.
    Content &vertexList(const QVector<geom::Vector3f> &vertices)
    {
        i32(vertices.size());
        for (const geom::Vector3f &v : vertices)
            f32(v.x).f32(v.y).f32(v.z);
        return *this;
    }
    // One strip: length, the indices, and after each from the third on its attribute (16-bit).
    Content &strip(const QVector<qint32> &indices, quint16 attribute = 0, qint32 length = -1)
    {
        i32(length < 0 ? indices.size() : length);
        for (int k = 0; k < indices.size(); ++k) {
            i32(indices[k]);
            if (k >= 2)
                u16(quint16(attribute + k));
        }
        return *this;
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    template <typename T>
    Content &put(T v)
    {
        m_stream << v;
        return *this;
    }

    QByteArray m_bytes;
    QDataStream m_stream;
};

// One gzip member holding data (zlib's gzip wrapper at the default level).
inline QByteArray gzipMember(const QByteArray &data)
{
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(int(zs.total_out));
    deflateEnd(&zs);
    return out;
}

// The content of gzip data of one or more members; empty when it is damaged.
inline QByteArray gunzip(const QByteArray &data)
{
    QByteArray out;
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    inflateInit2(&zs, 15 + 16);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    char chunk[1 << 15];
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef *>(chunk);
        zs.avail_out = sizeof chunk;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        out.append(chunk, int(sizeof chunk - zs.avail_out));
        if (rc == Z_STREAM_END && zs.avail_in > 0) {
            inflateReset(&zs);
            continue;
        }
        if (rc != Z_OK) {
            if (rc != Z_STREAM_END)
                out.clear();
            break;
        }
    }
    inflateEnd(&zs);
    return out;
}

// A write-only device that keeps the first `capacity` bytes and refuses the rest, like a full disk.
class LimitedDevice : public QIODevice
{
public:
    explicit LimitedDevice(qint64 capacity)
        : m_capacity(capacity)
    {}
    const QByteArray &data() const { return m_data; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        const qint64 n = std::min<qint64>(len, m_capacity - m_data.size());
        if (n <= 0)
            return -1;
        m_data.append(data, int(n));
        return n;
    }

private:
    qint64 m_capacity;
    QByteArray m_data;
};

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A facet as text: its three corners by coordinates, rotated so that the smallest corner in the
// vertex order comes first (winding kept), and its attribute word.
inline QString facetText(geom::Vector3f p, geom::Vector3f q, geom::Vector3f r, quint32 attribute)
{
    while (geom::vertexLess(q, p) || geom::vertexLess(r, p)) {
        const geom::Vector3f t = p;
        p = q;
        q = r;
        r = t;
    }
    // Adding +0 turns -0 into +0, which the vertex order does not tell apart either.
    auto v = [](const geom::Vector3f &a) {
        return QString("(%1 %2 %3)")
            .arg(a.x + 0.0f, 0, 'g', 9)
            .arg(a.y + 0.0f, 0, 'g', 9)
            .arg(a.z + 0.0f, 0, 'g', 9);
    };
    return v(p) + v(q) + v(r) + QString(" #%1").arg(attribute, 0, 16);
}

// Every facet of the mesh as facetText, sorted: equal for meshes with the same oriented facets
// and attributes, whatever their vertex numbering.
inline QStringList facetTexts(const geom::StlMesh &mesh)
{
    QStringList out;
    const QVector<geom::Vector3f> &v = mesh.vertices();
    for (const geom::IndexedFacet &f : mesh.indices())
        out << facetText(v[f.a], v[f.b], v[f.c], f.attribute);
    out.sort();
    return out;
}

} // namespace qrntest
