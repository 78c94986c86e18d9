#pragma once

#include <QByteArray>

namespace geom {

// One property of a PLY element. A scalar holds one value of `type`; a list (countType != 0) holds
// a length coded in `countType` followed by that many entries of `type`. Types are QMetaType::Type
// values; 0 means undefined. Plain value, copied freely.
struct PlyProperty
{
    int countType = 0;
    int type = 0;
    QByteArray name;

    PlyProperty() = default;
    PlyProperty(int aCountType, int aType, const QByteArray &aName)
        : countType(aCountType)
        , type(aType)
        , name(aName)
    {}

    // True when the type is defined and the name is not empty.
    bool isValid() const { return type != 0 && !name.isEmpty(); }
    // True for a list property (one with a count type).
    bool isList() const { return countType != 0; }

    bool operator==(const PlyProperty &other) const
    {
        return countType == other.countType && type == other.type && name == other.name;
    }
    bool operator!=(const PlyProperty &other) const { return !(*this == other); }
};

} // namespace geom
