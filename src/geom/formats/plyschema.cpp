#include "geom/formats/formatslog.h"
#include "geom/formats/plystream.h"

#include <QIODevice>
#include <QMetaType>
#include <QtDebug>

namespace geom {

namespace {

const QByteArray magic("ply\n");
const QByteArray formatKeyword("format ");
const QByteArray elementKeyword("element ");
const QByteArray propertyKeyword("property ");
const QByteArray commentKeyword("comment ");
const QByteArray endHeaderKeyword("end_header");
const QByteArray listKeyword("list");
const QByteArray knownVersion("1.0");

// Header lines longer than this are cut; the rest is read as the next line.
constexpr qint64 maxHeaderLine = 4096;

struct TypeName
{
    const char *name;
    int type;
};

// The eight PLY types with every spelling we accept; the first name of each type is the one we
// write. This is deliberately not the meta-type registry: it lacks "int8", "int64" and
// "float32", maps "qint8" to signed char, and knows names (long, bool, ...) that have no PLY
// coding.
const TypeName typeNames[] = {
    {"char", QMetaType::Char},      {"int8", QMetaType::Char},     {"qint8", QMetaType::Char},
    {"uchar", QMetaType::UChar},    {"uint8", QMetaType::UChar},   {"quint8", QMetaType::UChar},
    {"short", QMetaType::Short},    {"int16", QMetaType::Short},   {"qint16", QMetaType::Short},
    {"ushort", QMetaType::UShort},  {"uint16", QMetaType::UShort}, {"quint16", QMetaType::UShort},
    {"int", QMetaType::Int},        {"int32", QMetaType::Int},     {"qint32", QMetaType::Int},
    {"uint", QMetaType::UInt},      {"uint32", QMetaType::UInt},   {"quint32", QMetaType::UInt},
    {"float", QMetaType::Float},    {"float32", QMetaType::Float}, {"double", QMetaType::Double},
    {"float64", QMetaType::Double},
};

int lookUpType(const QByteArray &name)
{
    for (const TypeName &entry : typeNames) {
        if (name == entry.name)
            return entry.type;
    }
    return 0;
}

// Unsigned 32-bit decimal digits, nothing else.
bool parseCount(const QByteArray &word, quint32 &out)
{
    if (word.isEmpty())
        return false;
    quint64 value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + quint64(c - '0');
        if (value > 0xFFFFFFFFu)
            return false;
    }
    out = quint32(value);
    return true;
}

QByteArray withoutLineEnd(const QByteArray &line)
{
    return line.endsWith('\n') ? line.left(line.size() - 1) : line;
}

// Name look-ups shared by properties and elements.
template <typename T>
int indexByName(const QList<T> &list, const QByteArray &name, int from)
{
    for (int i = qMax(from, 0); i < list.size(); ++i) {
        if (list.at(i).name == name)
            return i;
    }
    return -1;
}

template <typename T>
int countByName(const QList<T> &list, const QByteArray &name)
{
    int n = 0;
    for (const T &entry : list)
        n += entry.name == name ? 1 : 0;
    return n;
}

// The first entry of that name; a new one made by `make` is appended when there is none.
template <typename T, typename Make>
T &refByName(QList<T> &list, const QByteArray &name, Make make)
{
    int i = indexByName(list, name, 0);
    if (i < 0) {
        list.append(make());
        i = list.size() - 1;
    }
    return list[i];
}

} // namespace

const QList<QByteArray> PlyStream::formatNames = {"binary_big_endian", "binary_little_endian", "ascii"};

const PlyElement PlyStream::defaultVertexElement("vertex", 0,
                                                 {PlyProperty(0, QMetaType::Float, "x"),
                                                  PlyProperty(0, QMetaType::Float, "y"),
                                                  PlyProperty(0, QMetaType::Float, "z")});

const PlyElement
    PlyStream::defaultFaceElement("face", 0,
                                  {PlyProperty(QMetaType::UChar, QMetaType::UInt, "vertex_indices")});

int PlyStream::typeFromName(const QByteArray &name)
{
    if (int type = lookUpType(name))
        return type;
    if (int type = lookUpType("q" + name))
        return type;
    if (name.startsWith("float"))
        return name.endsWith("64") ? QMetaType::Double : QMetaType::Float;
    return 0;
}

int PlyStream::typeSize(int type)
{
    switch (type) {
    case QMetaType::Char:
    case QMetaType::UChar:
        return 1;
    case QMetaType::Short:
    case QMetaType::UShort:
        return 2;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Float:
        return 4;
    case QMetaType::Double:
        return 8;
    default:
        return 0;
    }
}

QByteArray PlyStream::typeName(int type)
{
    for (const TypeName &entry : typeNames) {
        if (entry.type == type)
            return entry.name;
    }
    return QByteArray();
}

QByteArray PlyStream::formatLine(const FormatSpec &formatSpec)
{
    const QByteArray keyword = formatSpec.type >= 0 && formatSpec.type < formatNames.size()
                                   ? formatNames.at(formatSpec.type)
                                   : QByteArray::number(int(formatSpec.type));
    return formatKeyword + keyword + ' ' + formatSpec.version + '\n';
}

QByteArray PlyStream::elementLine(const PlyElement &element)
{
    return elementKeyword + element.name + ' ' + QByteArray::number(element.count) + '\n';
}

QByteArray PlyStream::propertyLine(const PlyProperty &property)
{
    QByteArray line = propertyKeyword;
    if (property.isList())
        line += listKeyword + ' ' + typeName(property.countType) + ' ';
    return line + typeName(property.type) + ' ' + property.name + '\n';
}

PlyStream::FormatSpec PlyStream::parseFormat(const QByteArray &line)
{
    FormatSpec formatSpec(InvalidFormat, QByteArray());
    if (line.count(' ') < 2)
        return formatSpec;
    const QList<QByteArray> words = line.split(' ');
    formatSpec.type = Format(formatNames.indexOf(words.at(1)));
    formatSpec.version = words.at(2).trimmed();
    return formatSpec;
}

PlyElement PlyStream::parseElement(const QByteArray &line)
{
    PlyElement element;
    if (line.count(' ') < 2)
        return element;
    const QList<QByteArray> words = line.split(' ');
    quint32 count = 0;
    if (parseCount(words.at(2).trimmed(), count)) {
        // Counts above INT_MAX wrap negative and so make the element invalid.
        element.count = int(count);
        element.name = words.at(1);
    }
    return element;
}

PlyProperty PlyStream::parseProperty(const QByteArray &line)
{
    PlyProperty property;
    if (line.count(' ') < 2)
        return property;
    QList<QByteArray> words = line.split(' ');
    int countType = 0;
    if (words.at(1) == listKeyword) {
        words.removeAt(1);
        if (words.size() < 4)
            return property;
        countType = typeFromName(words.at(1));
        words.removeAt(1);
    }
    property.countType = countType;
    property.type = typeFromName(words.at(1));
    property.name = words.at(2).trimmed();
    return property;
}

int PlyStream::indexOfProperty(const QList<PlyProperty> &properties, const QByteArray &name, int from)
{
    return indexByName(properties, name, from);
}

int PlyStream::indexOfElement(const QList<PlyElement> &elements, const QByteArray &name, int from)
{
    return indexByName(elements, name, from);
}

int PlyStream::propertyCount(const QList<PlyProperty> &properties, const QByteArray &name)
{
    return countByName(properties, name);
}

int PlyStream::elementCount(const QList<PlyElement> &elements, const QByteArray &name)
{
    return countByName(elements, name);
}

PlyProperty PlyStream::propertyByName(const QList<PlyProperty> &properties, const QByteArray &name)
{
    return properties.value(indexOfProperty(properties, name));
}

PlyElement PlyStream::elementByName(const QList<PlyElement> &elements, const QByteArray &name)
{
    return elements.value(indexOfElement(elements, name));
}

PlyProperty &PlyStream::propertyRef(QList<PlyProperty> &properties, const QByteArray &name)
{
    return refByName(properties, name, [&name] { return PlyProperty(0, 0, name); });
}

PlyElement &PlyStream::elementRef(QList<PlyElement> &elements, const QByteArray &name)
{
    return refByName(elements, name, [&name] { return PlyElement(name, 0); });
}

qint64 PlyStream::itemSize(const PlyElement &element, int listLength)
{
    qint64 size = 0;
    for (const PlyProperty &property : element.properties) {
        if (property.isList())
            size += typeSize(property.countType) + qint64(listLength) * typeSize(property.type);
        else
            size += typeSize(property.type);
    }
    return size;
}

QVector<int> PlyStream::vertexPropertyMap(const QList<PlyProperty> &properties)
{
    QVector<int> roles;
    roles.reserve(properties.size());
    for (const PlyProperty &property : properties) {
        roles.append(property.isList() ? -1
                                       : indexOfProperty(defaultVertexElement.properties, property.name));
    }
    return roles;
}

QVector<int> PlyStream::facePropertyMap(const QList<PlyProperty> &properties)
{
    QVector<int> roles;
    roles.reserve(properties.size());
    for (const PlyProperty &property : properties) {
        if (property.isList())
            roles.append(property.name.startsWith("vertex_ind") ? 0 : -1);
        else
            roles.append(property.name.startsWith("attr") ? 1 : -1);
    }
    return roles;
}

bool PlyStream::loadHeader()
{
    QIODevice *dev = m_stream.device();
    if (!dev)
        return m_state >= 3;
    if (!dev->isReadable() && !dev->open(QIODevice::ReadOnly))
        return m_state >= 3;
    if (m_state != 0)
        return m_state >= 3;
    if (dev->peek(magic.size()) != magic)
        return false;

    PlyElement current;
    m_state = 1;
    m_headerEnded = false;
    m_elements.clear();
    updateItemCount();
    dev->read(magic.size());
    // The elements appended so far stay, and progress counts them.
    auto invalidLine = [this](const QByteArray &line) {
        qCCritical(lcPly, "PlyStream.loadHeader invalid line %d: %s", m_state, line.constData());
        updateItemCount();
        updateItemsDone();
        return false;
    };

    for (;;) {
        const QByteArray raw = dev->readLine(maxHeaderLine);
        // A read that brings nothing ends the header like the end of the device does, so a
        // device that never delivers more data cannot keep us here.
        if (raw.isEmpty())
            break;
        ++m_state;
        const QByteArray line = withoutLineEnd(raw);
        if (line.startsWith(propertyKeyword)) {
            if (!current.isValid()) {
                qCWarning(lcPly, "PlyStream.loadHeader unknown element line %d: %s", m_state,
                          line.constData());
                continue;
            }
            const PlyProperty property = parseProperty(line);
            if (!property.isValid()) {
                return invalidLine(line);
            }
            current.properties.append(property);
        } else if (line.startsWith(elementKeyword)) {
            const PlyElement element = parseElement(line);
            if (!element.isValid()) {
                return invalidLine(line);
            }
            if (current.isValid() && !current.properties.isEmpty()) {
                if (indexOfElement(m_elements, current.name) >= 0)
                    qCWarning(lcPly, "PlyStream.loadHeader redefined element line %d: %s", m_state,
                              line.constData());
                m_elements.append(current);
            }
            current = element;
        } else if (line.startsWith(commentKeyword)) {
            if (!m_comment.isEmpty())
                m_comment += '\n';
            m_comment += line.mid(commentKeyword.size());
        } else if (line.startsWith(formatKeyword)) {
            const FormatSpec formatSpec = parseFormat(line);
            if (formatSpec.type == InvalidFormat || formatSpec.version.isEmpty()) {
                return invalidLine(line);
            }
            if (formatSpec.version != knownVersion)
                qCWarning(lcPly, "PlyStream.loadHeader unknown version line %d: %s", m_state,
                          line.constData());
            m_format = formatSpec.type;
            m_version = formatSpec.version;
            applyByteOrder();
        } else if (line.startsWith(endHeaderKeyword)) {
            m_headerEnded = true;
            break;
        } else {
            qCWarning(lcPly, "PlyStream.loadHeader unknown line %d: %s", m_state, line.constData());
        }
    }
    if (current.isValid() && !current.properties.isEmpty())
        m_elements.append(current);
    updateItemCount();
    updateItemsDone();
    return m_state >= 3;
}

bool PlyStream::saveHeader()
{
    QIODevice *dev = m_stream.device();
    if (!dev)
        return m_state >= 3;
    if (!dev->isWritable() && !dev->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return m_state >= 3;
    if (m_state != 0)
        return m_state >= 3;
    m_headerEnded = false;

    const QByteArray format = formatLine(FormatSpec(m_format, m_version));
    if (m_format < BinaryBigEndian || m_format > Ascii || m_version.isEmpty()) {
        qCCritical(lcPly, "PlyStream.saveHeader invalid line %d: %s", m_state, format.constData());
        return false;
    }
    updateItemCount();
    updateItemsDone();

    auto writeLine = [this](const QByteArray &line) {
        if (m_stream.writeRawData(line.constData(), line.size()) == line.size())
            ++m_state;
    };
    writeLine(magic);
    writeLine(format);
    if (!m_comment.isEmpty()) {
        QList<QByteArray> lines = m_comment.split('\n');
        // A final LF ends the last line; it does not start an empty one.
        if (m_comment.endsWith('\n'))
            lines.removeLast();
        for (const QByteArray &text : lines)
            writeLine(commentKeyword + text + '\n');
    }
    for (const PlyElement &element : qAsConst(m_elements)) {
        const QByteArray line = elementLine(element);
        if (!element.isValid()) {
            qCCritical(lcPly, "PlyStream.saveHeader invalid line %d: %s", m_state, line.constData());
            return false;
        }
        writeLine(line);
        for (const PlyProperty &property : element.properties) {
            const QByteArray propLine = propertyLine(property);
            // A type without a PLY coding would give a header that no reader can parse.
            const bool coded =
                typeSize(property.type) > 0 && (!property.isList() || typeSize(property.countType) > 0);
            if (!property.isValid() || !coded) {
                qCCritical(lcPly, "PlyStream.saveHeader invalid line %d: %s", m_state, propLine.constData());
                return false;
            }
            writeLine(propLine);
        }
    }
    const int beforeEnd = m_state;
    writeLine(endHeaderKeyword + '\n');
    m_headerEnded = m_state > beforeEnd;
    return m_state >= 3;
}

} // namespace geom
