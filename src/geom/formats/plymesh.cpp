#include "geom/formats/formatslog.h"
#include "geom/formats/plystream.h"
#include "geom/mesh/stlmesh.h"

#include <QIODevice>
#include <QMetaType>
#include <QtDebug>

#include <exception>

namespace geom {

namespace {

constexpr int maxShortIndex = 65535;
constexpr quint32 maxShortAttribute = 65535;

// Splits the polygon c[0..n-1] into n - 2 facets that alternate between its two ends (not a fan),
// keeping its winding.
void triangulate(const QVector<qint32> &c, quint32 attribute, QVector<IndexedFacet> &facets)
{
    const int n = c.size();
    if (n < 3)
        return;
    int k = 0;
    int lo = 1;
    int hi = n - 1;
    for (int step = 0;; ++step) {
        IndexedFacet facet;
        facet.a = c.at(k);
        facet.b = c.at(lo);
        facet.c = c.at(hi);
        facet.attribute = attribute;
        facets.append(facet);
        if (step % 2 == 0) {
            k = hi;
            --hi;
        } else {
            k = lo;
            ++lo;
        }
        if (hi <= lo)
            break;
    }
}

// The coordinate of a vertex that a vertex property of role 0, 1 or 2 carries.
float &coordinate(Vector3f &v, int role)
{
    return role == 0 ? v.x : role == 1 ? v.y : v.z;
}

// A task must not end the program: a standard exception becomes a failed result, its text a
// critical message and `failure` the stream's status.
template <typename Task>
bool runGuarded(PlyStream &stream, QDataStream::Status failure, Task task)
{
    try {
        return task();
    } catch (const std::exception &e) {
        qCCritical(lcPly, "PlyStream: %s", e.what());
        stream.setStatus(failure);
        return false;
    }
}

} // namespace

void PlyStream::stepOverEmptyElements()
{
    // No value is read or written for an element without items (or without properties), so the
    // cursor would never leave it by itself.
    bool moved = false;
    while (m_cursor.element >= 0 && m_cursor.element < m_elements.size() && m_cursor.item == 0 &&
           m_cursor.property == 0 && m_cursor.listRemaining < 0) {
        const PlyElement &element = m_elements.at(m_cursor.element);
        if (element.count != 0 && !element.properties.isEmpty())
            break;
        ++m_cursor.element;
        moved = true;
    }
    if (moved)
        updateItemsDone();
}

void PlyStream::rewind(bool forWriting)
{
    m_state = 0;
    if (QIODevice *dev = m_stream.device(); dev && dev->isOpen()) {
        if (forWriting || !dev->reset())
            dev->close();
    }
    m_stream.resetStatus();
    if (!forWriting)
        m_comment.clear(); // read again with the header
    resetCursor();
}

bool PlyStream::saveMesh(const StlMesh *mesh)
{
    return mesh && runGuarded(*this, QDataStream::WriteFailed, [&] { return saveMeshData(mesh); });
}

bool PlyStream::loadMesh(StlMesh *mesh)
{
    return mesh && runGuarded(*this, QDataStream::ReadCorruptData, [&] { return loadMeshData(mesh); });
}

bool PlyStream::saveMeshData(const StlMesh *mesh)
{
    // A header already written may carry other counts than this mesh needs: start afresh.
    if (!atStart() || m_state != 0)
        rewind(true);

    const QVector<Vector3f> &vertices = mesh->vertices();
    const QVector<IndexedFacet> &facets = mesh->indices();

    if (indexOfElement(m_elements, defaultVertexElement.name) < 0)
        m_elements.append(defaultVertexElement);
    elementRef(m_elements, defaultVertexElement.name).count = vertices.size();
    if (indexOfElement(m_elements, defaultFaceElement.name) < 0)
        m_elements.append(defaultFaceElement);
    PlyElement &face = elementRef(m_elements, defaultFaceElement.name);
    face.count = facets.size();

    PlyProperty &corners = propertyRef(face.properties, "vertex_indices");
    // A missing corner list is added as a list; as a scalar it would carry no corners at all.
    if (!corners.isList())
        corners.countType = QMetaType::UChar;
    corners.type = vertices.size() <= maxShortIndex ? QMetaType::UShort : QMetaType::UInt;

    int attributeType = 0;
    for (const IndexedFacet &facet : facets) {
        if (facet.attribute > maxShortAttribute) {
            attributeType = QMetaType::UInt;
            break;
        }
        if (facet.attribute != 0)
            attributeType = QMetaType::UShort;
    }
    if (attributeType != 0)
        propertyRef(face.properties, "attribute").type = attributeType;

    updateItemCount();
    updateItemsDone();
    if (!saveHeader())
        return false;

    while (status() == QDataStream::Ok) {
        stepOverEmptyElements();
        if (m_cursor.element >= m_elements.size())
            break;
        const int index = m_cursor.element;
        const PlyElement element = m_elements.at(index);
        const Position before = m_cursor;
        if (element.name == defaultVertexElement.name) {
            const QVector<int> roles = vertexPropertyMap(element.properties);
            for (int i = 0; i < element.count && status() == QDataStream::Ok; ++i) {
                // A second element of this name keeps its own count: never index past the mesh.
                Vector3f v = i < vertices.size() ? vertices.at(i) : Vector3f();
                for (int p = 0; p < roles.size() && status() == QDataStream::Ok; ++p) {
                    if (roles.at(p) >= 0)
                        save(coordinate(v, roles.at(p)));
                    else
                        save(uint(0));
                }
            }
        } else if (element.name == defaultFaceElement.name) {
            const QVector<int> roles = facePropertyMap(element.properties);
            for (int i = 0; i < element.count && status() == QDataStream::Ok; ++i) {
                const IndexedFacet f = i < facets.size() ? facets.at(i) : IndexedFacet();
                for (int p = 0; p < roles.size() && status() == QDataStream::Ok; ++p) {
                    switch (roles.at(p)) {
                    case 0:
                        save(uint(3)).save(uint(f.a)).save(uint(f.b)).save(uint(f.c));
                        break;
                    case 1:
                        save(uint(f.attribute));
                        break;
                    default:
                        save(uint(0));
                        break;
                    }
                }
            }
        } else {
            for (int i = 0; i < element.count && status() == QDataStream::Ok; ++i) {
                for (int p = 0; p < element.properties.size() && status() == QDataStream::Ok; ++p)
                    save(uint(0));
            }
        }
        if (status() == QDataStream::Ok && samePosition(before, m_cursor)) {
            setStatus(QDataStream::WriteFailed); // nothing moved the cursor: never loop on it
            break;
        }
    }
    return status() == QDataStream::Ok;
}

bool PlyStream::loadMeshData(StlMesh *mesh)
{
    if (!atStart())
        rewind(false);
    // A header that stops at the end of the device, without its "end_header" line, is a file cut
    // short: its mesh is damaged, not empty.
    if (!loadHeader() || !m_headerEnded) {
        mesh->clear();
        return false;
    }

    QVector<Vector3f> vertices;
    QVector<IndexedFacet> facets;
    // One corner list serves all faces; each face element starts with an empty one.
    QVector<qint32> corners;
    QIODevice *dev = m_stream.device();
    // Reserve only what the bytes left could hold, so that a damaged count allocates nothing.
    auto fits = [this, dev](const PlyElement &element, int listLength) {
        return !isAscii() && dev &&
               dev->bytesAvailable() >= qint64(element.count) * itemSize(element, listLength);
    };

    while (status() == QDataStream::Ok) {
        stepOverEmptyElements();
        if (m_cursor.element >= m_elements.size())
            break;
        const PlyElement element = m_elements.at(m_cursor.element);
        const Position before = m_cursor;
        if (element.name == defaultVertexElement.name) {
            const QVector<int> roles = vertexPropertyMap(element.properties);
            if (fits(element, 1))
                vertices.reserve(vertices.size() + element.count);
            for (int i = 0; i < element.count && status() == QDataStream::Ok; ++i) {
                vertices.append(Vector3f());
                Vector3f &v = vertices.last();
                for (int p = 0; p < roles.size() && status() == QDataStream::Ok; ++p) {
                    if (roles.at(p) >= 0)
                        load(coordinate(v, roles.at(p)));
                    else
                        skipProperty();
                }
            }
        } else if (element.name == defaultFaceElement.name) {
            const QVector<int> roles = facePropertyMap(element.properties);
            quint32 attribute = 0;
            bool warnConvex = true;
            corners.clear();
            if (fits(element, 3))
                facets.reserve(facets.size() + element.count);
            for (int i = 0; i < element.count && status() == QDataStream::Ok; ++i) {
                for (int p = 0; p < roles.size() && status() == QDataStream::Ok; ++p) {
                    switch (roles.at(p)) {
                    case 0: {
                        uint length = 0;
                        load(length);
                        corners.clear();
                        // The stream took the length as a signed int: above INT_MAX the list ends.
                        const int entries = qMax(int(length), 0);
                        for (int k = 0; k < entries && status() == QDataStream::Ok; ++k) {
                            uint corner = 0;
                            load(corner);
                            if (status() == QDataStream::Ok)
                                corners.append(qint32(corner));
                        }
                        break;
                    }
                    case 1:
                        load(attribute);
                        break;
                    default:
                        skipProperty();
                        break;
                    }
                }
                // A face whose values could not all be read gives no facet.
                if (status() != QDataStream::Ok)
                    break;
                if (corners.size() > 3 && warnConvex) {
                    qCWarning(lcPly,
                              "PlyStream.loadMesh faces with more than 3 vertices are assumed to be convex");
                    warnConvex = false;
                }
                triangulate(corners, attribute, facets);
            }
        } else {
            skipElement();
        }
        if (status() == QDataStream::Ok && samePosition(before, m_cursor)) {
            setStatus(QDataStream::ReadCorruptData); // nothing moved the cursor: never loop on it
            break;
        }
    }
    mesh->setData(vertices, facets);
    return status() == QDataStream::Ok;
}

} // namespace geom
