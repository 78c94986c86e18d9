#pragma once

#include "geom/core/facet.h"
#include "geom/mesh/stlmesh.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QVector>

// Small STL fixtures built from a facet list, and helpers to look into written files.
namespace stltest {

// A binary STL image: header (padded with blanks), count (the facet count unless given), records.
QByteArray binaryStl(const QVector<geom::Facet> &facets, const QVector<quint16> &attributes = {},
                     const QByteArray &header = QByteArray(), qint64 count = -1);
// An ASCII STL solid in the usual layout with the given line end; `end` is the end line
// ("endsolid NAME" unless given; an empty `end` leaves it out).
QByteArray asciiStl(const QVector<geom::Facet> &facets, const QByteArray &name = "part",
                    const QByteArray &eol = "\n", const QByteArray &end = QByteArray("\x01"));

struct Record
{
    geom::Facet facet;
    quint16 attribute = 0;
};
// The records of a binary STL image (as many whole records as the data holds) and its count field.
QVector<Record> records(const QByteArray &stl, quint32 *count = nullptr);

// The signed volume of the mesh's facets: positive for an outward-wound closed mesh.
double signedVolume(const geom::StlMesh &mesh);

// Figures `admesh FILE` reports; valid is false when the output could not be parsed.
struct AdmeshReport
{
    bool valid = false;
    qint64 facets = 0;
    double volume = 0;
    qint64 facetsReversed = 0;
    qint64 backwardsEdges = 0;
    qint64 normalsFixed = 0;
    float min[3] = {0, 0, 0};
    float max[3] = {0, 0, 0};
};
// The path of admesh, or empty when it is not installed.
QString admeshPath();
// Runs admesh with the arguments and parses its report.
AdmeshReport runAdmesh(const QStringList &arguments);

} // namespace stltest
