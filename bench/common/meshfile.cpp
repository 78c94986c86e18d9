#include "meshfile.h"

#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"

#include <QFile>

namespace bench {

std::unique_ptr<geom::StlMesh> readStl(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    geom::StlReader reader(&file);
    return std::unique_ptr<geom::StlMesh>(reader.read());
}

bool sameMesh(const geom::StlMesh &a, const geom::StlMesh &b)
{
    if (a.vertices() != b.vertices() || a.indices().size() != b.indices().size())
        return false;
    for (int i = 0; i < a.indices().size(); ++i) {
        const geom::IndexedFacet &f = a.indices()[i], &g = b.indices()[i];
        if (!geom::sameTriple(f, g) || f.attribute != g.attribute)
            return false;
    }
    return true;
}

} // namespace bench
