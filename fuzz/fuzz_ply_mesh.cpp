// PLY files of every encoding through PlyStream::loadMesh on a buffer, as the program opens them.

#include "fuzzsupport.h"

#include "geom/formats/plystream.h"
#include "geom/mesh/stlmesh.h"
#include "meshcheck.h"

#include <QBuffer>

using quarnfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QBuffer buffer;
    buffer.setData(quarnfuzz::bytes(data, size));
    geom::PlyStream stream(&buffer);
    geom::StlMesh mesh;
    const bool loaded = stream.loadMesh(&mesh);
    require(!loaded || stream.status() == QDataStream::Ok, "PlyStream.loadMesh succeeded with a status");
    const float progress = stream.progress();
    require(progress >= 0.0f && progress <= 1.0f, "PlyStream progress outside 0..1");
    // A failed load still leaves a finished mesh: the facets read before the damage, or none.
    quarnfuzz::checkMesh(mesh, meshtest::AllowEqualVertices, "PlyStream.loadMesh");
    return 0;
}
