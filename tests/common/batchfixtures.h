#pragma once

// Small files for the batch and program tests: STL and compressed mesh files written with the
// project's own writers from the shared mesh builders, meshes read back with its readers, a mesh
// comparison and the usage text.

#include "geom/core/facet.h"
#include "geom/formats/plystream.h"
#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/formats/stlreader.h"
#include "geom/formats/stlwriter.h"
#include "geom/mesh/stlmesh.h"
#include "io/gzipfile.h"
#include "meshbuilders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QVector>

#include <memory>
#include <unistd.h>

namespace batchtest {

inline bool writeStl(const QString &path, const QVector<geom::Facet> &facets,
                     const QByteArray &header = QByteArray("batch test model"))
{
    const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(facets));
    QFile file(path);
    geom::StlWriter writer(&file);
    writer.setHeader(header);
    const bool written = writer.write(mesh.get()) == mesh->indices().size();
    return writer.finish() && written;
}

inline bool writeQrn(const QString &path, const QVector<geom::Facet> &facets,
                     const QByteArray &comment = QByteArray("batch test comment"))
{
    const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(facets));
    GZipFile file(path);
    geom::QrnWriter::Status status;
    {
        geom::QrnWriter writer(&file);
        writer.setComment(comment);
        status = writer.write(mesh.get());
    }
    file.close();
    return status == geom::QrnWriter::Done;
}

// As writeQrn, with the vertex block enciphered under key.
inline bool writeEncipheredQrn(const QString &path, const QVector<geom::Facet> &facets, const QByteArray &key)
{
    const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(facets));
    GZipFile file(path);
    geom::QrnWriter::Status status;
    {
        geom::QrnWriter writer(&file);
        writer.setKey(key);
        status = writer.write(mesh.get());
    }
    file.close();
    return status == geom::QrnWriter::Done;
}

// The uncompressed content of a gzip file, and a gzip file of content.
inline QByteArray readGzip(const QString &path)
{
    GZipFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeGzip(const QString &path, const QByteArray &content)
{
    GZipFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

// The mesh of an STL file, or null.
inline std::unique_ptr<geom::StlMesh> readStl(const QString &path, QByteArray *header = nullptr)
{
    QFile file(path);
    geom::StlReader reader(&file);
    std::unique_ptr<geom::StlMesh> mesh(reader.read());
    if (header)
        *header = reader.header();
    return mesh;
}

// The mesh of a compressed mesh file, or null.
inline std::unique_ptr<geom::StlMesh> readQrn(const QString &path, QByteArray *comment = nullptr)
{
    GZipFile file(path);
    geom::QrnReader reader(&file);
    std::unique_ptr<geom::StlMesh> mesh(new geom::StlMesh);
    if (reader.read(mesh.get()) != geom::QrnReader::Done)
        return nullptr;
    if (comment)
        *comment = reader.comment();
    return mesh;
}

// The mesh of a PLY file, or null.
inline std::unique_ptr<geom::StlMesh> readPly(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    geom::PlyStream stream(&file);
    auto mesh = std::make_unique<geom::StlMesh>();
    if (!stream.processHeader() || !stream.loadMesh(mesh.get()))
        return nullptr;
    return mesh;
}

// The mesh of a file in any of the program's formats, told by its suffix, or null.
inline std::unique_ptr<geom::StlMesh> readMesh(const QString &path)
{
    if (path.endsWith(QLatin1String(".qrn")))
        return readQrn(path);
    if (path.endsWith(QLatin1String(".ply")))
        return readPly(path);
    return readStl(path);
}

// Empty when both meshes hold the same vertices and the same facets (with attributes), else
// what differs.
inline QString compareMeshes(const geom::StlMesh *actual, const geom::StlMesh *expected)
{
    if (!actual || !expected)
        return QStringLiteral("missing mesh");
    if (actual->vertices() != expected->vertices())
        return QStringLiteral("vertices differ (%1 and %2)")
            .arg(actual->vertices().size())
            .arg(expected->vertices().size());
    const QVector<geom::IndexedFacet> &a = actual->indices();
    const QVector<geom::IndexedFacet> &b = expected->indices();
    if (a.size() != b.size())
        return QStringLiteral("facet counts differ (%1 and %2)").arg(a.size()).arg(b.size());
    for (int i = 0; i < a.size(); ++i) {
        if (!geom::sameTriple(a[i], b[i]) || (a[i].attribute & 0xffff) != (b[i].attribute & 0xffff))
            return QStringLiteral("facet %1 differs").arg(i);
    }
    return QString();
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.flush();
}

// Puts at `path` a regular file that this process cannot open for reading: a file without read
// permission or, for root, whom no permission bit stops, a link to a write-only kernel setting.
inline bool makeUnreadable(const QString &path)
{
    if (::geteuid() != 0)
        return writeAll(path, "unreadable") && QFile::setPermissions(path, QFile::WriteOwner);
    const QString writeOnly = QStringLiteral("/proc/sys/vm/compact_memory");
    return QFileInfo(writeOnly).isFile() && QFile::link(writeOnly, path);
}

// Files of the folder that a write left behind under a temporary name.
inline QStringList temporaryFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
}

// The lines of the usage text for the program named program, up to its closing newline.
inline QStringList usageLines(const QString &program)
{
    return {
        "Usage: " + program + " --headless [-compress/-decompress] [FILE]...",
        "Quarn version 1.0.9",
        "Orvan website orvan.example",
        "",
        "Compress from or decompress to your STL 3D Model data.",
        "File outputs in the same directory with the same name.",
        "",
        "Compression (STL to QRN):",
        program + " -compress model_0.stl model_1.stl",
        "",
        "Decompression (QRN to STL):",
        program + " -decompress compressed_0.qrn compressed_1.qrn",
        "",
    };
}

} // namespace batchtest
