#include "geom/formats/stlheaderblock.h"

#include <QBuffer>
#include <QDataStream>
#include <QTransform>
#include <QVector3D>

#include <cstring>

namespace geom {

namespace {

const char blank = ' ';
// The tag's bit pattern 0x941B as the signed 16-bit value the stream writes.
const qint16 tag = -27621;

} // namespace

StlHeaderBlock::StlHeaderBlock()
{
    std::memset(m_data, blank, Size);
    // note: the default block stores the tag least significant byte first, unlike setValues.
    m_data[0] = char(0x1B);
    m_data[1] = char(0x94);
}

StlHeaderBlock::StlHeaderBlock(const char *data)
    : StlHeaderBlock()
{
    if (data)
        std::memcpy(m_data, data, Size);
}

StlHeaderBlock::StlHeaderBlock(const QList<QVariant> &values)
    : StlHeaderBlock()
{
    setValues(values);
}

void StlHeaderBlock::setBytes(const QByteArray &bytes)
{
    std::memset(m_data, blank, Size);
    std::memcpy(m_data, bytes.constData(), std::min<size_t>(size_t(bytes.size()), Size));
}

QByteArray StlHeaderBlock::toByteArray() const
{
    return QByteArray(m_data, Size);
}

void StlHeaderBlock::copyTo(char *out) const
{
    std::memcpy(out, m_data, Size);
}

int StlHeaderBlock::setValues(const QList<QVariant> &values)
{
    QByteArray bytes;
    bytes.reserve(Size);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    QDataStream stream(&buffer);
    stream << tag;
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);

    int count = 0;
    for (const QVariant &value : values) {
        const qint64 start = buffer.pos();
        switch (value.userType()) {
        case QMetaType::Int:
            stream << qint32(value.toInt());
            break;
        case QMetaType::Short:
            stream << qint16(value.value<short>());
            break;
        case QMetaType::Char:
            stream << qint8(value.value<char>());
            break;
        case QMetaType::Float:
            stream << value.value<float>();
            break;
        case QMetaType::QTransform:
            stream << value.value<QTransform>();
            break;
        case QMetaType::QVector3D:
            stream << value.value<QVector3D>();
            break;
        default:
            continue;
        }
        ++count;
        if (buffer.pos() == Size)
            break;
        if (buffer.pos() > Size) {
            bytes.truncate(int(start));
            --count;
            break;
        }
    }
    buffer.close();
    setBytes(bytes);
    return count;
}

QList<QVariant> StlHeaderBlock::values(const QList<int> &types) const
{
    QByteArray bytes = toByteArray();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QDataStream stream(&buffer);
    qint16 ignoredTag;
    stream >> ignoredTag;
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);

    QList<QVariant> result;
    result.reserve(types.size());
    for (int type : types) {
        QVariant value;
        if (stream.status() == QDataStream::Ok && !buffer.atEnd()) {
            switch (type) {
            case QMetaType::Int: {
                qint32 v;
                stream >> v;
                value = int(v);
                break;
            }
            case QMetaType::Short: {
                qint16 v;
                stream >> v;
                value = int(v);
                break;
            }
            case QMetaType::Char: {
                qint8 v;
                stream >> v;
                value = int(v);
                break;
            }
            case QMetaType::Float: {
                float v;
                stream >> v;
                value = QVariant::fromValue(v);
                break;
            }
            case QMetaType::QTransform: {
                QTransform v;
                stream >> v;
                value = QVariant::fromValue(v);
                break;
            }
            case QMetaType::QVector3D: {
                QVector3D v;
                stream >> v;
                value = QVariant::fromValue(v);
                break;
            }
            default:
                break;
            }
            if (stream.status() != QDataStream::Ok)
                value = QVariant();
        }
        result.append(value);
    }
    return result;
}

} // namespace geom
