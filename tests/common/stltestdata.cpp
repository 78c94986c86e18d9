#include "stltestdata.h"

#include <QDataStream>
#include <QProcess>
#include <QStandardPaths>

#include <cstring>

namespace stltest {

QByteArray binaryStl(const QVector<geom::Facet> &facets, const QVector<quint16> &attributes,
                     const QByteArray &header, qint64 count)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    const QByteArray head = header.leftJustified(80, ' ', true);
    out.writeRawData(head.constData(), 80);
    out << quint32(count < 0 ? facets.size() : count);
    for (int i = 0; i < facets.size(); ++i) {
        const geom::Facet &f = facets[i];
        for (const geom::Vector3f &v : {f.normal, f.vertex[0], f.vertex[1], f.vertex[2]})
            out << v.x << v.y << v.z;
        out << quint16(i < attributes.size() ? attributes[i] : 0);
    }
    return bytes;
}

QByteArray asciiStl(const QVector<geom::Facet> &facets, const QByteArray &name, const QByteArray &eol,
                    const QByteArray &end)
{
    auto number = [](float v) { return QByteArray::number(double(v), 'g', 9); };
    QByteArray text = "solid " + name + eol;
    for (const geom::Facet &f : facets) {
        text += "  facet normal " + number(f.normal.x) + ' ' + number(f.normal.y) + ' ' + number(f.normal.z) +
                eol;
        text += "    outer loop" + eol;
        for (const geom::Vector3f &v : f.vertex)
            text += "      vertex " + number(v.x) + ' ' + number(v.y) + ' ' + number(v.z) + eol;
        text += "    endloop" + eol + "  endfacet" + eol;
    }
    if (end == "\x01")
        text += "endsolid " + name + eol;
    else if (!end.isEmpty())
        text += end + eol;
    return text;
}

QVector<Record> records(const QByteArray &stl, quint32 *count)
{
    QDataStream in(stl);
    in.setByteOrder(QDataStream::LittleEndian);
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    in.skipRawData(80);
    quint32 n = 0;
    in >> n;
    if (count)
        *count = n;
    QVector<Record> result;
    for (qint64 i = 0; 84 + 50 * (i + 1) <= stl.size(); ++i) {
        Record r;
        for (geom::Vector3f *v :
             {&r.facet.normal, &r.facet.vertex[0], &r.facet.vertex[1], &r.facet.vertex[2]})
            in >> v->x >> v->y >> v->z;
        in >> r.attribute;
        result.append(r);
    }
    return result;
}

double signedVolume(const geom::StlMesh &mesh)
{
    double volume = 0;
    const QVector<geom::Vector3f> &v = mesh.vertices();
    for (const geom::IndexedFacet &f : mesh.indices()) {
        const geom::Vector3f &a = v[f.a], &b = v[f.b], &c = v[f.c];
        volume += (double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) -
                   double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
                   double(a.z) * (double(b.x) * c.y - double(b.y) * c.x)) /
                  6.0;
    }
    return volume;
}

QString admeshPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("admesh"));
}

AdmeshReport runAdmesh(const QStringList &arguments)
{
    AdmeshReport report;
    QProcess process;
    process.start(admeshPath(), arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return report;
    const QString text = QString::fromLocal8Bit(process.readAllStandardOutput());
    auto integer = [&](const QString &label, qint64 &value) {
        const QRegularExpressionMatch m = QRegularExpression(QRegularExpression::escape(label) +
                                                             QStringLiteral("\\s*:\\s*(\\d+)\\s+(\\d+)?"))
                                              .match(text);
        if (!m.hasMatch())
            return false;
        // note: admesh prints "original  final" for some figures; the final one counts.
        value = (m.captured(2).isEmpty() ? m.captured(1) : m.captured(2)).toLongLong();
        return true;
    };
    const QRegularExpressionMatch volume =
        QRegularExpression(QStringLiteral("Volume\\s*:\\s*([-+0-9.eE]+)")).match(text);
    bool ok = volume.hasMatch() && integer(QStringLiteral("Number of facets"), report.facets) &&
              integer(QStringLiteral("Facets reversed"), report.facetsReversed) &&
              integer(QStringLiteral("Backwards edges"), report.backwardsEdges) &&
              integer(QStringLiteral("Normals fixed"), report.normalsFixed);
    report.volume = volume.captured(1).toDouble();
    const char axes[] = "XYZ";
    for (int i = 0; i < 3 && ok; ++i) {
        const QRegularExpressionMatch m =
            QRegularExpression(
                QStringLiteral("Min %1 =\\s*([-+0-9.eE]+), Max %1 =\\s*([-+0-9.eE]+)").arg(QChar(axes[i])))
                .match(text);
        ok = m.hasMatch();
        report.min[i] = m.captured(1).toFloat();
        report.max[i] = m.captured(2).toFloat();
    }
    report.valid = ok;
    return report;
}

} // namespace stltest
