#pragma once

#include "geom/core/cuboid.h"
#include "geom/slicing/slice.h"

#include <QList>
#include <QMatrix4x4>
#include <QStringList>
#include <QVector>

class QDataStream;
class QGLContext;

namespace geom {
class StlMesh;
struct Facet;
} // namespace geom

class MeshDisplayCachePrivate;

// Ready-to-draw vertex arrays of meshes, one per integer key, built once and drawn every frame:
// GL_TRIANGLES with a position and a normal per vertex (24 bytes), centred on the origin. With caching
// on the arrays live in buffer objects of one GL context, with caching off in client memory.
//
// One read-write lock guards the map: draw, byteSize and save read under it; clear, load, swap and
// the store step of update write under it. All GL work (update with a context, draw, setCaching,
// setContext) must run on the thread whose GL context is current.
class MeshDisplayCache
{
public:
    // The GL error texts kept by collectGLErrors: the newest this many.
    static constexpr int MaxGLErrors = 100;

    // Sliced layers to draw as contour lines: the model's box (its centre goes to the origin), the
    // number of contour edges (sizes the staging up front), the model's radius and the slices.
    struct LayerSet
    {
        geom::Cuboid bounds;
        qint64 edgeCount = 0;
        double radius = 0.0;
        QList<geom::Slice> slices;
    };

    // An empty cache with caching and error checking on and no context.
    MeshDisplayCache();
    ~MeshDisplayCache();
    MeshDisplayCache(const MeshDisplayCache &) = delete;
    MeshDisplayCache &operator=(const MeshDisplayCache &) = delete;

    // Whether arrays live in buffer objects. Switching moves every array (uploads into the context,
    // picking the current one when none is set yet, or downloads into client memory); an array whose
    // buffers cannot be read back is dropped, so that the caller rebuilds it. No lock is needed by
    // the caller; the move takes the write lock.
    bool isCaching() const;
    void setCaching(bool on);
    // Whether GL errors are collected after building and drawing.
    bool checkErrors() const;
    void setCheckErrors(bool on);
    // The context whose buffer objects hold the arrays; null until first needed. Setting another one
    // moves the arrays into it while caching is on (a null one means the current context).
    QGLContext *context() const;
    void setContext(QGLContext *ctx);

    // The largest radius of the geometry stored since construction or the last clear.
    float maxValue() const;
    // True when no array is stored (an array of an empty mesh counts).
    bool isEmpty() const;
    // Bytes of all arrays (read lock).
    qint64 byteSize() const;
    // Drops every array, forgets the context and the radius (write lock). Caching, error checking and
    // the collected errors stay.
    void clear();

    // Builds the mesh's triangle array, centred on its bounding-box centre when that is off the origin
    // by more than 1e-5, and stores it under key (replacing one there). Reads the mesh without its
    // lock. Returns the array's bytes; -1 for a null mesh, a facet naming a missing vertex, staging
    // memory that cannot be had or a recording that cannot be ended (nothing stored then).
    qint64 update(const geom::StlMesh *mesh, int key);
    // As above from STL facet records with their stored normals.
    qint64 update(const QVector<geom::Facet> &facets, int key);
    // Builds a GL_LINES array of the layers' contours, one line per contour edge (the closing edge
    // first) at the slice's height, with the edge's outward normal in the layer's plane; stores it
    // under key and sets the radius to the set's, even when smaller. Returns as above.
    qint64 update(const LayerSet &layers, int key);

    // Draws the arrays in key order, the n-th with the n-th matrix (an array whose matrix is
    // degenerate relative to its size is hidden; arrays beyond the list use the current modelview).
    // Enables and then disables the vertex and normal client arrays; sets no other GL state. Read lock.
    void draw(const QList<QMatrix4x4> &matrices);
    void draw();

    // Drains pending GL errors into the collected texts when error checking is on; returns how many
    // were added (0 when off). Only the newest MaxGLErrors texts are kept.
    int collectGLErrors();
    // The collected texts, oldest first; the list is emptied.
    QStringList takeGLErrors();

    // Exchanges the contents of both caches under both write locks (this cache's first).
    void swap(MeshDisplayCache &other);

    // Writes the cache (version 3: radius, array count, then key and array record per array) in
    // little-endian order with single-precision floats; the stream's settings are restored. False
    // when the stream is already failing or its device is not writable; write failures show in the
    // stream's status.
    bool save(QDataStream &stream) const;
    // Clears the cache, then reads versions 1 to 3 (write lock). False, with the cache left empty,
    // for a failing stream, an unreadable device, another version or damaged data.
    bool load(QDataStream &stream);

private:
    MeshDisplayCachePrivate *const d;
};
