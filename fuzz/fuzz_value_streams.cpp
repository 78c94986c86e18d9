// The stream readers of the value types: the binary arrays of Vector3f, Vector2f and Vector2d on
// a data stream and their text forms on a text stream. The first byte chooses the reader (and the
// byte order), the rest is the stream.

#include "fuzzsupport.h"

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

#include <QBuffer>
#include <QDataStream>
#include <QTextStream>

using quarnfuzz::require;

namespace {

template <typename V>
void readArray(const QByteArray &bytes, bool bigEndian, int (*read)(QDataStream &, QVector<V> &))
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QDataStream in(&buffer);
    in.setByteOrder(bigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    // Reads arrays back to back until the stream fails, as a file of several lists would.
    for (int round = 0; in.status() == QDataStream::Ok && !in.atEnd(); ++round) {
        require(round <= bytes.size(), "array reader reads from nothing");
        QVector<V> values;
        const qint64 before = buffer.pos();
        const int n = read(in, values);
        require(n >= -1, "array reader count below -1");
        if (n > 0) {
            require(values.size() == n, "array reader count differs from its values");
            require(buffer.pos() - before >= qint64(sizeof(V)) * n, "array reader made values from nothing");
        }
    }
}

template <typename V>
void readText(const QByteArray &bytes)
{
    QTextStream in(bytes);
    for (int round = 0; in.status() == QTextStream::Ok && !in.atEnd(); ++round) {
        require(round <= bytes.size(), "text reader reads from nothing");
        const qint64 before = in.pos();
        V value;
        in >> value;
        if (in.status() == QTextStream::Ok)
            require(in.pos() > before, "text reader made a value from nothing");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int choice = data[0] % 6;
    const bool bigEndian = data[0] & 0x80;
    const QByteArray bytes = quarnfuzz::bytes(data + 1, size - 1);
    switch (choice) {
    case 0:
        readArray<geom::Vector3f>(bytes, bigEndian, geom::readVector3fArray);
        break;
    case 1:
        readArray<geom::Vector2f>(bytes, bigEndian, geom::readVector2fArray);
        break;
    case 2:
        readArray<geom::Vector2d>(bytes, bigEndian, geom::readVector2dArray);
        break;
    case 3:
        readText<geom::Vector3f>(bytes);
        break;
    case 4:
        readText<geom::Vector2f>(bytes);
        break;
    default:
        readText<geom::Vector2d>(bytes);
        break;
    }
    return 0;
}
