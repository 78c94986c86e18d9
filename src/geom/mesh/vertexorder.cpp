#include "geom/mesh/vertexorder.h"

#include <algorithm>

namespace geom {

const Vector3f *lowerVertex(const Vector3f *begin, const Vector3f *end, const Vector3f &v)
{
    return std::lower_bound(begin, end, v, vertexLess);
}

const Vector3f *findVertex(const Vector3f *begin, const Vector3f *end, const Vector3f &v)
{
    const Vector3f *p = lowerVertex(begin, end, v);
    return (p == end || vertexLess(v, *p)) ? end : p;
}

} // namespace geom
