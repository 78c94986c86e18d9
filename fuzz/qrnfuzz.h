#pragma once

#include "fuzzsupport.h"

#include <QBuffer>

#include "geom/formats/qrnreader.h"
#include "geom/mesh/stlmesh.h"
#include "meshcheck.h"

// The reading of a compressed mesh file that both compressed-format targets share: the reader
// on the device, with the key of the seed files so that enciphered blocks are deciphered too.
namespace quarnfuzz {

inline geom::QrnReader::Status readQrn(QIODevice *device)
{
    geom::QrnReader reader(device);
    reader.setKey(SeedKey);
    geom::StlMesh mesh;
    const geom::QrnReader::Status status = reader.read(&mesh);
    require(reader.status() == geom::QrnReader::Idle, "QrnReader is not idle after a read");
    switch (status) {
    case geom::QrnReader::Done:
        quarnfuzz::checkMesh(mesh, meshtest::AllowEqualVertices, "QrnReader");
        break;
    case geom::QrnReader::NotReadable:
    case geom::QrnReader::IncorrectFormat:
    case geom::QrnReader::CorruptedData:
    case geom::QrnReader::OutOfMemory:
        require(mesh.indices().isEmpty() && mesh.vertices().isEmpty(),
                "QrnReader failed and changed the mesh");
        break;
    default:
        require(false, "QrnReader returned a status that is no outcome");
    }
    require(reader.comment().size() == 80, "QrnReader text is not 80 bytes");
    return status;
}

// The end of the data is part of the file: content that read as a mesh must no longer read as
// one with a byte more behind its last group.
inline void requireEndChecked(const QByteArray &content)
{
    QBuffer buffer;
    buffer.setData(content + '\0');
    require(readQrn(&buffer) == geom::QrnReader::CorruptedData,
            "QrnReader took content behind the last group");
}

} // namespace quarnfuzz
