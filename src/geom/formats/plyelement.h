#pragma once

#include "geom/formats/plyproperty.h"

#include <QByteArray>
#include <QList>

namespace geom {

// One element of a PLY schema: `count` items, each holding `properties` in file order.
// Plain value, copied freely.
struct PlyElement
{
    QByteArray name;
    int count = 0;
    QList<PlyProperty> properties;

    PlyElement() = default;
    PlyElement(const QByteArray &aName, int aCount, const QList<PlyProperty> &aProperties = {})
        : name(aName)
        , count(aCount)
        , properties(aProperties)
    {}

    // True when the count is not negative and the name is not empty.
    bool isValid() const { return count >= 0 && !name.isEmpty(); }

    bool operator==(const PlyElement &other) const
    {
        return name == other.name && count == other.count && properties == other.properties;
    }
    bool operator!=(const PlyElement &other) const { return !(*this == other); }
};

} // namespace geom
