// Slicing arbitrary small meshes: vertex and facet lists from the input bytes (NaN and infinities
// included, optionally a facet index the mesh would never hold), an arbitrary thickness, merging
// and winding rule; the layers are written as an SLC file.
//
// Input: byte 0 vertex count (mod 33), byte 1 facet count (mod 65), byte 2 options (bit 0 merge,
// bits 1-3 winding rule, bit 4 poke an index, bit 5 slice 0 to 1 instead of the bounds, bit 6
// count gaps), bytes 3-6 the
// thickness as a float, bytes 7-10 the tolerance as a float, then 12 bytes per vertex (three
// floats; finite heights folded into +-64) and 12 bytes per facet (three 32-bit indices); missing bytes read
// as 0.

#include "fuzzsupport.h"

#include "geom/mesh/stlmesh.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tolerantslicer.h"

#include <QBuffer>

#include <cmath>
#include <cstring>

namespace {

class Reader
{
public:
    Reader(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {}
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    quint32 word()
    {
        quint32 w = 0;
        for (int i = 0; i < 4; ++i)
            w |= quint32(byte()) << (8 * i);
        return w;
    }
    float real()
    {
        const quint32 w = word();
        float f;
        std::memcpy(&f, &w, sizeof f);
        return f;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// note: until something is cut the slicer climbs in steps of the tolerance and traces each step, so
// a mesh whose crossings all collapse (a two-sided sliver) costs its height over the tolerance in
// level traces; finite heights are folded into a band that keeps that within the time limit.
const float heightBand = 64.0f;

float bounded(float z)
{
    return std::isfinite(z) ? std::fmod(z, heightBand) : z;
}

// Layers the fuzzer may ask for at most: enough for every path, few enough to stay fast.
const double maxFuzzLayers = 512.0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Reader in(data, size);
    const int vertexCount = in.byte() % 33;
    const int facetCount = in.byte() % 65;
    const int options = in.byte();
    float thickness = in.real();
    const float tolerance = in.real();

    QVector<geom::Vector3f> vertices;
    for (int i = 0; i < vertexCount; ++i) {
        const float x = in.real(), y = in.real(), z = in.real();
        vertices.append(geom::Vector3f(x, y, bounded(z)));
    }
    QVector<geom::IndexedFacet> facets;
    for (int i = 0; i < facetCount; ++i) {
        geom::IndexedFacet f;
        f.a = qint32(in.word() % 40);
        f.b = qint32(in.word() % 40);
        f.c = qint32(in.word() % 40);
        facets.append(f);
    }

    geom::StlMesh mesh;
    mesh.setData(vertices, facets);
    if ((options & 16) && !mesh.indices().isEmpty())
        mesh.indices()[0].c = qint32(in.word());

    geom::TolerantSlicer slicer(&mesh, double(tolerance));
    slicer.setParent(nullptr);
    // A valid thickness is scaled so that the layer count stays small; invalid ones go through.
    const bool unitRange = (options & 32) != 0;
    const geom::Cuboid &box = mesh.bounds();
    const double range =
        unitRange ? 1.0 : std::min(double(box.max().z) - double(box.min().z) + double(thickness), 32768.0);
    if (std::isfinite(thickness) && thickness > 0.0f && std::isfinite(range) &&
        range / double(thickness) > maxFuzzLayers)
        thickness = float(range / maxFuzzLayers);
    slicer.setSampleOffset(double(thickness) / 2.0);
    slicer.setMergeContours(options & 1);
    slicer.setWindingRule((options >> 1) & 7);
    const QList<geom::Slice> slices =
        unitRange ? slicer.extractSlices(0.0f, 1.0f, thickness) : slicer.extractSlices(thickness);
    quarnfuzz::require(slices.size() <= 2 * int(maxFuzzLayers) + 8, "more layers than the range holds");

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    SlcWriter writer(&buffer);
    writer.writeSlices(slices, options & 64);
    quarnfuzz::require(writer.finish(), "SLC writer failed on a buffer");
    return 0;
}
