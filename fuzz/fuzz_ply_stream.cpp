// PLY files of every encoding through the value interface of PlyStream: the header, then every
// value taken in a changing choice of types and skips, as a caller with its own schema would.

#include "fuzzsupport.h"

#include "geom/formats/plystream.h"

#include <QBuffer>

using quarnfuzz::require;

namespace {

// Each value is read in one of the eight types; now and then a property, an item or a whole
// element is skipped instead. The choice follows the step so that an input replays the same way.
void step(geom::PlyStream &stream, quint32 n)
{
    const quint32 pick = (n * 2654435761u) >> 25; // 0..127
    if (pick == 0) {
        require(stream.skipElement() >= 0, "PlyStream.skipElement moved backwards");
        return;
    }
    if (pick < 3) {
        require(stream.skipItem() >= 0, "PlyStream.skipItem moved backwards");
        return;
    }
    if (pick < 8) {
        require(stream.skipProperty() >= 0, "PlyStream.skipProperty moved backwards");
        return;
    }
    switch (pick & 7) {
    case 0: {
        double v;
        stream.load(v);
        break;
    }
    case 1: {
        float v;
        stream.load(v);
        break;
    }
    case 2: {
        int v;
        stream.load(v);
        break;
    }
    case 3: {
        uint v;
        stream.load(v);
        break;
    }
    case 4: {
        short v;
        stream.load(v);
        break;
    }
    case 5: {
        ushort v;
        stream.load(v);
        break;
    }
    case 6: {
        char v;
        stream.load(v);
        break;
    }
    default: {
        uchar v;
        stream.load(v);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QBuffer buffer;
    buffer.setData(quarnfuzz::bytes(data, size));
    geom::PlyStream stream(&buffer);
    if (!stream.loadHeader())
        return 0;
    // note: every value takes at least one byte (an ASCII value a character, a binary one its
    // size, a list its length), so more steps than bytes would mean values taken from nothing.
    const qint64 limit = 2 * qint64(size) + 64;
    for (qint64 n = 0; stream.status() == QDataStream::Ok && !stream.atEnd(); ++n) {
        require(n < limit, "PlyStream keeps reading values without data");
        step(stream, quint32(n));
        const float progress = stream.progress();
        require(progress >= 0.0f && progress <= 1.0f, "PlyStream progress outside 0..1");
        require(stream.itemsDone() <= stream.itemCount(), "PlyStream counts more items than the schema");
    }
    return 0;
}
