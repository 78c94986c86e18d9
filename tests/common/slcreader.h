#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtEndian>

#include <cstring>

// A reader of SLC slice files for the tests, written from the format's description: a header text
// ended by CR LF SUB, 256 reserved bytes, a sampling table (an 8-bit entry count, then per entry
// the minimum z, layer thickness, line-width compensation and a reserved float), then layers (float
// z, 32-bit boundary count; per boundary 32-bit vertex and gap counts and the vertices as float x,
// y) until a layer whose count is 0xFFFFFFFF: the termination record with the top z. Little-endian.
namespace slctest {

struct Boundary
{
    quint32 gaps = 0;
    QVector<float> xy; // x, y per vertex
    int vertexCount() const { return xy.size() / 2; }
    bool isClosed() const
    {
        return xy.size() >= 2 && xy[0] == xy[xy.size() - 2] && xy[1] == xy[xy.size() - 1];
    }
    // Signed area by the shoelace sum (the closing vertex adds nothing).
    double area() const
    {
        double a = 0.0;
        for (int i = 0; i + 3 < xy.size(); i += 2)
            a += double(xy[i]) * double(xy[i + 3]) - double(xy[i + 2]) * double(xy[i + 1]);
        return 0.5 * a;
    }
};

struct Layer
{
    float z = 0.0f;
    QVector<Boundary> boundaries;
};

struct SlcFile
{
    QString error; // empty when the file was read to its termination record
    QByteArray headerText;
    struct Sampling
    {
        float minZ, thickness, lineWidth, reserved;
    };
    QVector<Sampling> sampling;
    QVector<Layer> layers;
    float topZ = 0.0f;
    int trailingBytes = 0;
};

class Cursor
{
public:
    explicit Cursor(const QByteArray &b)
        : m_bytes(b)
    {}
    bool has(int n) const { return m_pos + n <= m_bytes.size(); }
    quint8 u8() { return quint8(m_bytes[m_pos++]); }
    quint32 u32()
    {
        const quint32 v = qFromLittleEndian<quint32>(m_bytes.constData() + m_pos);
        m_pos += 4;
        return v;
    }
    float f32()
    {
        const quint32 bits = u32();
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    int pos() const { return m_pos; }
    void skip(int n) { m_pos += n; }
    int left() const { return m_bytes.size() - m_pos; }

private:
    const QByteArray &m_bytes;
    int m_pos = 0;
};

inline SlcFile readSlc(const QByteArray &bytes)
{
    SlcFile f;
    const int end = bytes.indexOf(QByteArray("\r\n\x1a", 3));
    if (end < 0) {
        f.error = "no end of header";
        return f;
    }
    f.headerText = bytes.left(end);
    Cursor c(bytes);
    c.skip(end + 3);
    if (!c.has(256 + 1)) {
        f.error = "short reserved block";
        return f;
    }
    c.skip(256);
    const int entries = c.u8();
    for (int i = 0; i < entries; ++i) {
        if (!c.has(16)) {
            f.error = "short sampling table";
            return f;
        }
        SlcFile::Sampling s;
        s.minZ = c.f32();
        s.thickness = c.f32();
        s.lineWidth = c.f32();
        s.reserved = c.f32();
        f.sampling.append(s);
    }
    for (;;) {
        if (!c.has(8)) {
            f.error = "no termination record";
            return f;
        }
        const float z = c.f32();
        const quint32 count = c.u32();
        if (count == 0xFFFFFFFFu) {
            f.topZ = z;
            f.trailingBytes = c.left();
            return f;
        }
        Layer layer;
        layer.z = z;
        for (quint32 b = 0; b < count; ++b) {
            if (!c.has(8)) {
                f.error = "short boundary";
                return f;
            }
            Boundary boundary;
            const quint32 vertices = c.u32();
            boundary.gaps = c.u32();
            if (!c.has(int(vertices) * 8)) {
                f.error = "short vertex list";
                return f;
            }
            for (quint32 v = 0; v < vertices; ++v) {
                boundary.xy.append(c.f32());
                boundary.xy.append(c.f32());
            }
            layer.boundaries.append(boundary);
        }
        f.layers.append(layer);
    }
}

} // namespace slctest
