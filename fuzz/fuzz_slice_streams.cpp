// The stream readers of the planar layers: a contour record, a slice record and a slice stack on a
// data stream. The first byte chooses the reader (low bits) and the byte order (bit 7); the rest is
// the stream. Whatever is read is then measured, regrouped, drawn into a path and written back, so
// that damaged values reach the operations a reader hands them to.

#include "fuzzsupport.h"

#include "geom/slicing/contour.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/slicestack.h"

#include <QBuffer>
#include <QDataStream>
#include <QPainterPath>

#include <cmath>

using quarnfuzz::require;

namespace {

// What a contour costs at least before the next one is begun: its child count.
constexpr int MinContourBytes = 4;

QDataStream::ByteOrder orderOf(std::uint8_t choice)
{
    return (choice & 0x80) ? QDataStream::BigEndian : QDataStream::LittleEndian;
}

// Writes the value and reads it back: the same bytes must come out.
template <typename T>
void roundTrip(const T &value, QDataStream::ByteOrder order)
{
    QByteArray first;
    {
        QDataStream out(&first, QIODevice::WriteOnly);
        out.setByteOrder(order);
        out << value;
        require(out.status() == QDataStream::Ok, "writer failed on a value read back");
    }
    T back;
    QDataStream in(first);
    in.setByteOrder(order);
    in >> back;
    require(in.status() == QDataStream::Ok, "reader refused what the writer wrote");
    QByteArray second;
    {
        QDataStream out(&second, QIODevice::WriteOnly);
        out.setByteOrder(order);
        out << back;
    }
    require(first == second, "round trip changed the bytes");
}

void exercise(const geom::Slice &read)
{
    geom::Slice s = read;
    s.area();
    s.bounds();
    s.perimeter();
    s.containsPoint(geom::Vector2f(0.5f, 0.5f), nullptr, 1);
    s.toPainterPath(true);
    for (int f : {geom::Slice::Grouped, geom::Slice::Hierarchy, geom::Slice::Flat}) {
        s.setFormat(f);
        const int n = s.contourCount();
        require(n >= 0, "negative contour count");
        if (n > 0) {
            require(s.contour(n - 1) != nullptr, "no contour at the last index");
            require(s.contour(0) != nullptr, "no contour at the first index");
        }
        require(s.pointCount() >= 0, "negative point count");
    }
    s.sortByArea(true);
}

void readContour(const QByteArray &bytes, QDataStream::ByteOrder order)
{
    QDataStream in(bytes);
    in.setByteOrder(order);
    geom::Contour c;
    in >> c;
    require(c.flatten().size() <= bytes.size() / MinContourBytes + 2, "contours made from nothing");
    require(qint64(c.totalPointCount()) * 8 <= bytes.size(), "points made from nothing");
    if (in.status() != QDataStream::Ok)
        return;
    c.totalArea();
    c.totalPerimeter();
    c.containmentDepth(geom::Vector2f(0, 0));
    c.allPoints();
    roundTrip(c, order);
}

void readSlice(const QByteArray &bytes, QDataStream::ByteOrder order)
{
    QDataStream in(bytes);
    in.setByteOrder(order);
    geom::Slice s;
    in >> s;
    require(s.contours().size() <= bytes.size() / MinContourBytes + 2, "contours made from nothing");
    if (in.status() != QDataStream::Ok)
        return;
    exercise(s);
    roundTrip(s, order);
}

void readStack(const QByteArray &bytes, QDataStream::ByteOrder order)
{
    QDataStream in(bytes);
    in.setByteOrder(order);
    geom::SliceStack stack;
    in >> stack;
    require(stack.size() <= bytes.size() / (4 + 8) + 1, "slices made from nothing");
    for (int i = 1; i < stack.size(); ++i) {
        const float below = stack.slices()[i - 1].z();
        const float above = stack.slices()[i].z();
        // Heights that are not numbers go last.
        require(!(above < below) && !(std::isnan(below) && !std::isnan(above)), "slices out of order");
    }
    if (stack.isEmpty())
        return;
    stack.minThickness();
    stack.maxThickness();
    stack.mirror(geom::MinZ);
    exercise(stack.slices().first());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes = quarnfuzz::bytes(data + 1, size - 1);
    const QDataStream::ByteOrder order = orderOf(data[0]);
    switch (data[0] % 3) {
    case 0:
        readContour(bytes, order);
        break;
    case 1:
        readSlice(bytes, order);
        break;
    default:
        readStack(bytes, order);
        break;
    }
    return 0;
}
