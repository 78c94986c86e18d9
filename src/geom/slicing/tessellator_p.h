#pragma once

#include "geom/slicing/tessellator.h"

#include <GL/glu.h>

#include <QList>
#include <QVector>

#include <deque>

namespace geom {

// The data of one tessellator. results and vertexStore hold values of the current kind only: every
// change of kind passes through clear(), which frees them with the old kind's traits.
class TessellatorPrivate
{
public:
    GLUtesselator *tess = nullptr;
    double z = 0.0;
    int kind = Tessellator::Float2D;
    int state = Tessellator::Idle;
    float normal[3] = {0.0f, 0.0f, 0.0f};
    bool reuseVertices = false;
    // A std::deque of the kind's Vertex: GLU keeps pointers to stored vertices, and a deque keeps
    // element addresses while it grows at the end. Created on first use.
    void *vertexStore = nullptr;
    // One QVector of the kind's type per primitive, in the order GLU reported them.
    QList<void *> results;

    static TessellatorPrivate *of(void *polygonData) { return static_cast<Tessellator *>(polygonData)->d; }
    static const TessellatorPrivate *of(const Tessellator &t) { return t.d; }
    static TessellatorPrivate *of(Tessellator &t) { return t.d; }
};

// The callbacks and helpers of one coordinate kind: T values, N per vertex.
template <typename T, int N>
struct TessellatorTraits
{
    struct Vertex
    {
        T v[N] = {};
    };
    using Output = QVector<T>;
    using Store = std::deque<Vertex>;

    static void install(Tessellator &t);
    // True when every coordinate of the points (and the elevation of planar kinds) can be given
    // to GLU: finite and within GLU's coordinate limit.
    static bool usable(const Tessellator &t, const void *points, int count);
    static void feed(Tessellator &t, const void *points, int count);
    static void feedReversed(Tessellator &t, const void *points, int count);
    static void addVertex(Tessellator &t, const T *values);
    static Vertex *storeVertex(Tessellator &t, const T *values);
    static Vertex *combineVertex(Tessellator &t, const double *coords);

    static void GLAPIENTRY beginCallback(GLenum type, void *polygonData);
    static void GLAPIENTRY vertexCallback(void *vertexData, void *polygonData);
    static void GLAPIENTRY combineCallback(GLdouble coords[3], void *vertexData[4], GLfloat weight[4],
                                           void **outData, void *polygonData);

    static void clear(Tessellator &t);
    static QVector<const Output *> results(const Tessellator &t);
    static QVector<Output *> results(Tessellator &t);
    static QVector<Facet> facets(const Tessellator &t);
};

} // namespace geom
