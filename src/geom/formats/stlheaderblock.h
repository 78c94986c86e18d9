#pragma once

#include <QByteArray>
#include <QList>
#include <QVariant>

namespace geom {

// The 80-byte header field of a binary STL file as a value. Besides plain text it can hold
// a short list of typed values: the tag bytes 0x94 0x1B, then int, short, char, float,
// QTransform and QVector3D values in little-endian stream form, the rest blank (0x20).
class StlHeaderBlock
{
public:
    enum
    {
        Size = 80
    };

    // The default block: tag bytes 0x1B 0x94 (this order), then 78 blanks.
    StlHeaderBlock();
    // Copies the 80 bytes at `data`; a null pointer gives the default block.
    explicit StlHeaderBlock(const char *data);
    // The default block, then setValues(values).
    explicit StlHeaderBlock(const QList<QVariant> &values);

    // All bytes blank, then the first min(bytes.size(), 80) bytes of `bytes` at the front.
    void setBytes(const QByteArray &bytes);
    QByteArray toByteArray() const;
    // Copies the 80 bytes to `out`, which must have room for them.
    void copyTo(char *out) const;

    // Replaces the whole block by the tag and the values of the supported types, in order;
    // other entries are skipped, a value that would not fit ends the list. Returns the number
    // of values stored. A char takes one byte.
    int setValues(const QList<QVariant> &values);
    // Decodes one entry per QMetaType id in `types` (Int, Short, Char, Float, QTransform,
    // QVector3D); Short and Char come back as int. Entries past the data, of other types or
    // that cannot be read completely come back invalid. The tag is not checked.
    QList<QVariant> values(const QList<int> &types) const;

private:
    char m_data[Size];
};

} // namespace geom
