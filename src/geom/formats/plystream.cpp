#include "geom/formats/plystream.h"
#include "geom/formats/formatslog.h"

#include <QIODevice>
#include <QMetaType>
#include <QtDebug>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <type_traits>

namespace geom {

namespace {

// Longer ASCII tokens are cut here (no number needs more); the rest fails as the next token, so a
// damaged file cannot grow one token without bound.
constexpr int maxTokenLength = 4096;
// Limit of one readLineRest call, as for header lines.
constexpr qint64 maxLineRest = 4096;
// Binary skips go to the device in chunks that fit skipRawData's int length.
constexpr qint64 maxSkipChunk = 1 << 30;

enum Category
{
    NoCategory,
    SignedCategory,
    UnsignedCategory,
    RealCategory
};

// Calls f with a zero of the C++ type that codes `type` in binary files, width and signedness
// included; false (f not called) for a type without a coding.
template <typename F>
bool withCoding(int type, F &&f)
{
    switch (type) {
    case QMetaType::Char:
        f(qint8(0));
        return true;
    case QMetaType::UChar:
        f(quint8(0));
        return true;
    case QMetaType::Short:
        f(qint16(0));
        return true;
    case QMetaType::UShort:
        f(quint16(0));
        return true;
    case QMetaType::Int:
        f(qint32(0));
        return true;
    case QMetaType::UInt:
        f(quint32(0));
        return true;
    case QMetaType::Float:
        f(float(0));
        return true;
    case QMetaType::Double:
        f(double(0));
        return true;
    default:
        return false;
    }
}

Category categoryOf(int type)
{
    Category category = NoCategory;
    withCoding(type, [&category](auto coded) {
        using Coded = decltype(coded);
        category = std::is_floating_point_v<Coded> ? RealCategory
                   : std::is_signed_v<Coded>       ? SignedCategory
                                                   : UnsignedCategory;
    });
    return category;
}

// Plain value conversion: reals truncate toward zero, integers keep their low-order bits. Reals
// beyond 64 bits saturate first, so that no conversion is undefined.
template <typename To, typename From>
To convertValue(From value)
{
    if constexpr (std::is_floating_point_v<To> || !std::is_floating_point_v<From>) {
        return static_cast<To>(value);
    } else {
        if (value != value)
            return To(0);
        if (value >= 0) {
            if (value >= 18446744073709551616.0)
                return static_cast<To>(std::numeric_limits<quint64>::max());
            return static_cast<To>(static_cast<quint64>(value));
        }
        if (value <= -9223372036854775808.0)
            return static_cast<To>(std::numeric_limits<qint64>::min());
        return static_cast<To>(static_cast<qint64>(value));
    }
}

// Decimal digits up to the end of text, nothing else, of a value no greater than limit.
bool parseDigits(const char *p, quint64 limit, quint64 &out)
{
    if (!*p)
        return false;
    quint64 value = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const quint64 digit = quint64(*p - '0');
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

bool parseSigned(const QByteArray &token, qint64 &out)
{
    const char *p = token.constData();
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    quint64 magnitude = 0;
    if (!parseDigits(p, limit, magnitude))
        return false;
    out = negative ? qint64(0 - magnitude) : qint64(magnitude);
    return true;
}

bool parseUnsigned(const QByteArray &token, quint64 &out)
{
    const char *p = token.constData();
    if (*p == '+')
        ++p;
    return parseDigits(p, std::numeric_limits<quint64>::max(), out);
}

// Number syntax of the POSIX locale, whatever locale the application has set.
bool parseReal(const QByteArray &token, double &out)
{
    static const locale_t posix = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char *end = nullptr;
    const double value = strtod_l(token.constData(), &end, posix);
    if (end == token.constData() || *end != '\0')
        return false;
    out = value;
    return true;
}

QByteArray fixedText(double value, int decimals)
{
    QByteArray text = QByteArray::number(value, 'f', decimals);
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    return text;
}

// Fixed notation with nine decimals, trailing zeros and a trailing point dropped. note: nine
// decimals lose small values (1.2345678e-5f needs twelve), so more decimals are written only
// when the text would not read back as the same value; every value that nine decimals carry
// exactly keeps its usual text. `single` compares in single precision, for a float value or a
// float property, so that a float widened to double is not spelled out to its last binary digit.
QByteArray formatReal(double value, bool single)
{
    constexpr int usualDecimals = 9;
    // Enough for the smallest subnormal double.
    constexpr int maxDecimals = 340;
    QByteArray text = fixedText(value, usualDecimals);
    if (!std::isfinite(value))
        return text;
    auto exact = [value, single](const QByteArray &candidate) {
        double parsed = 0;
        if (!parseReal(candidate, parsed))
            return false;
        return single ? float(parsed) == float(value) : parsed == value;
    };
    for (int decimals = usualDecimals + 1; decimals <= maxDecimals && !exact(text); ++decimals)
        text = fixedText(value, decimals);
    return text;
}

bool isBlank(char c)
{
    return qint8(c) <= 32;
}

} // namespace

PlyStream::PlyStream(QIODevice *device)
{
    m_stream.setDevice(device);
    m_stream.setVersion(QDataStream::Qt_4_5);
    m_stream.setByteOrder(QDataStream::BigEndian);
}

PlyStream::~PlyStream() = default;

QIODevice *PlyStream::device() const
{
    return m_stream.device();
}

PlyStream::FormatSpec PlyStream::format() const
{
    return FormatSpec(m_format, m_version);
}

void PlyStream::setFormat(const FormatSpec &formatSpec)
{
    if (formatSpec == format())
        return;
    if (m_state != 0) {
        qCCritical(lcPly, "PlyStream.setFormat cannot change format midstream");
        return;
    }
    m_format = formatSpec.type;
    m_version = formatSpec.version;
    applyByteOrder();
}

QByteArray PlyStream::comment(bool percentDecoded) const
{
    return percentDecoded ? QByteArray::fromPercentEncoding(m_comment, '%') : m_comment;
}

void PlyStream::setComment(const QByteArray &text, bool percentEncode)
{
    if (text == m_comment)
        return;
    if (m_state != 0) {
        qCWarning(lcPly, "PlyStream.setComment called midstream has no effect");
        return;
    }
    if (percentEncode) {
        static const char hex[] = "0123456789abcdef";
        QByteArray encoded;
        encoded.reserve(text.size());
        for (char c : text) {
            const uchar u = uchar(c);
            if (c == '\n' || (u >= 0x20 && u <= 0x7F && c != '%')) {
                encoded += c;
            } else {
                encoded += '%';
                encoded += hex[u >> 4];
                encoded += hex[u & 0xF];
            }
        }
        m_comment = encoded;
        return;
    }
    for (char c : text) {
        const uchar u = uchar(c);
        if (u < 9 || (u >= 14 && u <= 31) || u >= 0x80) {
            qCCritical(lcPly, "PlyStream.setComment called with non-ASCII character %d", int(qint8(c)));
            return;
        }
    }
    m_comment = text;
}

QList<PlyElement> PlyStream::elements() const
{
    return m_elements;
}

void PlyStream::setElements(const QList<PlyElement> &elements)
{
    if (elements == m_elements)
        return;
    if (m_state != 0) {
        qCCritical(lcPly, "PlyStream.setElements cannot change elements midstream");
        return;
    }
    m_elements = elements;
    updateItemCount();
    updateItemsDone();
}

void PlyStream::setDevice(QIODevice *device)
{
    if (device == m_stream.device())
        return;
    // Judged by the cursor alone: a device being written is always at its end.
    if (m_state != 0 && m_cursor.element < m_elements.size())
        qCWarning(lcPly, "PlyStream.setDevice called midstream, current output is incomplete");
    m_stream.setDevice(device);
    m_stream.resetStatus();
    m_stream.setVersion(QDataStream::Qt_4_5);
    m_stream.setByteOrder(QDataStream::BigEndian);
    applyByteOrder();
    m_state = 0;
    resetCursor();
}

bool PlyStream::processHeader()
{
    if (m_state != 0)
        return m_state >= 3;
    return m_elements.isEmpty() ? loadHeader() : saveHeader();
}

PlyStream &PlyStream::save(double value)
{
    return saveValue(value);
}
PlyStream &PlyStream::save(float value)
{
    return saveValue(value);
}
PlyStream &PlyStream::save(int value)
{
    return saveValue(value);
}
PlyStream &PlyStream::save(uint value)
{
    return saveValue(value);
}
PlyStream &PlyStream::save(short value)
{
    return saveValue(value);
}
PlyStream &PlyStream::save(ushort value)
{
    return saveValue(value);
}
PlyStream &PlyStream::save(char value)
{
    return saveValue(qint8(value));
}
PlyStream &PlyStream::save(uchar value)
{
    return saveValue(value);
}

PlyStream &PlyStream::load(double &value)
{
    return loadValue(value);
}
PlyStream &PlyStream::load(float &value)
{
    return loadValue(value);
}
PlyStream &PlyStream::load(int &value)
{
    return loadValue(value);
}
PlyStream &PlyStream::load(uint &value)
{
    return loadValue(value);
}
PlyStream &PlyStream::load(short &value)
{
    return loadValue(value);
}
PlyStream &PlyStream::load(ushort &value)
{
    return loadValue(value);
}
PlyStream &PlyStream::load(char &value)
{
    qint8 v = 0;
    loadValue(v);
    value = char(v);
    return *this;
}
PlyStream &PlyStream::load(uchar &value)
{
    return loadValue(value);
}

template <typename T>
PlyStream &PlyStream::saveValue(T value)
{
    if (!saveHeader()) {
        qCCritical(lcPly, "PlyStream.save cannot write");
        setStatus(QDataStream::WriteFailed);
        return *this;
    }
    const PlyProperty *property = currentProperty();
    if (!property || property->type == 0) {
        qCCritical(lcPly, "PlyStream.save undefined data type");
        setStatus(QDataStream::WriteFailed);
        return *this;
    }
    if (property->isList() && m_cursor.listRemaining < 0) {
        writeValue(property->countType, value);
        m_cursor.listRemaining = convertValue<qint32>(value);
    } else {
        writeValue(property->type, value);
    }
    const char separator = nextField();
    if (separator)
        m_stream.writeRawData(&separator, 1);
    return *this;
}

template <typename T>
PlyStream &PlyStream::loadValue(T &value)
{
    value = T(0);
    if (!loadHeader()) {
        qCCritical(lcPly, "PlyStream.load cannot read");
        setStatus(QDataStream::ReadPastEnd);
        return *this;
    }
    const PlyProperty *property = currentProperty();
    if (!property || property->type == 0) {
        qCCritical(lcPly, "PlyStream.load undefined data type");
        setStatus(QDataStream::ReadPastEnd);
        return *this;
    }
    if (property->isList() && m_cursor.listRemaining < 0) {
        readValue(property->countType, value);
        m_cursor.listRemaining = convertValue<qint32>(value);
        checkListLength(*property, m_cursor.listRemaining);
    } else {
        readValue(property->type, value);
    }
    finishValue();
    return *this;
}

template <typename T>
int PlyStream::readValue(int type, T &out)
{
    out = T(0);
    if (isAscii()) {
        const QByteArray token = readToken();
        if (token.isEmpty()) {
            setStatus(QDataStream::ReadPastEnd);
            return status();
        }
        bool ok = true;
        switch (categoryOf(type)) {
        case SignedCategory: {
            qint64 v = 0;
            ok = parseSigned(token, v);
            out = convertValue<T>(v);
            break;
        }
        case UnsignedCategory: {
            quint64 v = 0;
            ok = parseUnsigned(token, v);
            out = convertValue<T>(v);
            break;
        }
        case RealCategory: {
            double v = 0;
            ok = parseReal(token, v);
            out = convertValue<T>(v);
            break;
        }
        case NoCategory:
            break;
        }
        if (!ok) {
            out = T(0);
            setStatus(QDataStream::ReadCorruptData);
        }
        return status();
    }
    withCoding(type, [this, &out](auto coded) {
        m_stream >> coded;
        out = convertValue<T>(coded);
    });
    return status();
}

template <typename T>
int PlyStream::writeValue(int type, T value)
{
    if (isAscii()) {
        QByteArray text;
        switch (categoryOf(type)) {
        case SignedCategory:
            text = QByteArray::number(convertValue<qint64>(value));
            break;
        case UnsignedCategory:
            text = QByteArray::number(convertValue<quint64>(value));
            break;
        case RealCategory:
            text =
                formatReal(convertValue<double>(value), std::is_same_v<T, float> || type == QMetaType::Float);
            break;
        case NoCategory:
            break;
        }
        QIODevice *dev = m_stream.device();
        if (!dev || text.isEmpty() || dev->write(text) < 1)
            setStatus(QDataStream::WriteFailed);
        return status();
    }
    withCoding(type, [this, value](auto coded) { m_stream << convertValue<decltype(coded)>(value); });
    return status();
}

const PlyElement *PlyStream::currentElement() const
{
    if (m_cursor.element < 0 || m_cursor.element >= m_elements.size())
        return nullptr;
    return &m_elements.at(m_cursor.element);
}

const PlyProperty *PlyStream::currentProperty() const
{
    const PlyElement *element = currentElement();
    if (!element || m_cursor.property < 0 || m_cursor.property >= element->properties.size())
        return nullptr;
    return &element->properties.at(m_cursor.property);
}

char PlyStream::nextField()
{
    const PlyElement *element = currentElement();
    if (!element || !element->isValid())
        return 0;
    const int remaining = m_cursor.listRemaining;
    if (remaining >= 1) {
        m_cursor.listRemaining = remaining - 1;
        return isAscii() ? ' ' : 0;
    }
    m_cursor.listRemaining = -1;
    if (++m_cursor.property < element->properties.size())
        return isAscii() ? ' ' : 0;
    advanceItem();
    return isAscii() ? '\n' : 0;
}

void PlyStream::advanceItem()
{
    const PlyElement *element = currentElement();
    m_cursor.listRemaining = -1;
    m_cursor.property = 0;
    ++m_cursor.item;
    if (!element || m_cursor.item >= element->count) {
        m_cursor.item = 0;
        ++m_cursor.element;
        updateItemsDone();
    } else {
        m_itemDone.fetch_add(1, std::memory_order_relaxed);
    }
}

void PlyStream::finishValue()
{
    const char separator = nextField();
    QIODevice *dev = m_stream.device();
    if (!separator || !dev)
        return;
    if (separator == '\n') {
        const QByteArray rest = readLineRest();
        if (!rest.isEmpty())
            qCWarning(lcPly, "PlyStream.load trailing line %u %s", lineNumber(), rest.constData());
        return;
    }
    char c = 0;
    while (dev->getChar(&c)) {
        if (c == '\n') {
            advanceItem();
            setStatus(QDataStream::ReadCorruptData);
            qCCritical(lcPly, "PlyStream.load truncated line %u", lineNumber());
            return;
        }
        if (!isBlank(c)) {
            dev->ungetChar(c);
            return;
        }
    }
}

bool PlyStream::checkListLength(const PlyProperty &property, int length)
{
    if (status() != QDataStream::Ok)
        return false;
    // A negative length (a count above INT_MAX, or a signed count type) ends the list at once;
    // no valid file holds one.
    if (length < 0) {
        qCCritical(lcPly, "PlyStream.load invalid list length %d", length);
        setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    QIODevice *dev = m_stream.device();
    if (length == 0 || !dev || dev->isSequential())
        return true;
    // Every ASCII entry takes at least one byte and the separator before it.
    const qint64 needed = isAscii() ? 2 * qint64(length) : qint64(length) * typeSize(property.type);
    if (needed <= dev->bytesAvailable())
        return true;
    qCCritical(lcPly, "PlyStream.load list length %d exceeds the data left", length);
    setStatus(QDataStream::ReadPastEnd);
    return false;
}

bool PlyStream::readListLength(const PlyProperty &property)
{
    qint32 length = 0;
    readValue(property.countType, length);
    m_cursor.listRemaining = length;
    const bool ok = checkListLength(property, length) && status() == QDataStream::Ok;
    finishValue();
    return ok;
}

void PlyStream::skipOneValue(const PlyProperty &property)
{
    if (property.type == 0)
        return;
    if (!property.isList()) {
        if (isAscii()) {
            if (readToken().isEmpty())
                setStatus(QDataStream::ReadPastEnd);
        } else if (m_stream.skipRawData(typeSize(property.type)) != typeSize(property.type)) {
            setStatus(QDataStream::ReadPastEnd);
        }
        finishValue();
        return;
    }
    if (m_cursor.listRemaining < 0 && !readListLength(property))
        return;
    if (m_cursor.listRemaining < 0)
        return;
    if (isAscii()) {
        while (m_cursor.listRemaining >= 0 && status() == QDataStream::Ok) {
            if (readToken().isEmpty())
                setStatus(QDataStream::ReadPastEnd);
            finishValue();
        }
        return;
    }
    // Binary entries have a fixed width: skip them in one go, then close the list as its last
    // entry would.
    qint64 bytes = (qint64(m_cursor.listRemaining) + 1) * typeSize(property.type);
    while (bytes > 0) {
        const int chunk = int(qMin(bytes, maxSkipChunk));
        if (m_stream.skipRawData(chunk) != chunk) {
            setStatus(QDataStream::ReadPastEnd);
            break;
        }
        bytes -= chunk;
    }
    m_cursor.listRemaining = 0;
    finishValue();
}

qint64 PlyStream::skipProperty()
{
    return skipValues(SkipProperty);
}

qint64 PlyStream::skipItem()
{
    return skipValues(SkipItem);
}

qint64 PlyStream::skipElement()
{
    return skipValues(SkipElement);
}

qint64 PlyStream::skipValues(SkipScope scope)
{
    QIODevice *dev = m_stream.device();
    if (!loadHeader() || m_cursor.element >= m_elements.size() || !dev)
        return 0;
    const Position first = m_cursor;
    // An element without items keeps the cursor (it never passes one by itself): nothing to skip.
    if (scope != SkipProperty && first.item >= m_elements.at(first.element).count)
        return 0;
    const qint64 start = dev->pos();
    for (;;) {
        const Position before = m_cursor;
        if (const PlyProperty *property = currentProperty())
            skipOneValue(*property);
        // Stop at the scope's end, at the first failed read and where nothing moved.
        if (scope == SkipProperty || status() != QDataStream::Ok || samePosition(before, m_cursor) ||
            m_cursor.element != first.element || (scope == SkipItem && m_cursor.item != first.item))
            break;
    }
    return dev->pos() - start;
}

bool PlyStream::samePosition(const Position &p, const Position &q)
{
    return p.element == q.element && p.item == q.item && p.property == q.property &&
           p.listRemaining == q.listRemaining;
}

QByteArray PlyStream::readToken()
{
    QByteArray token;
    token.reserve(16);
    QIODevice *dev = m_stream.device();
    if (!dev)
        return token;
    char c = 0;
    while (token.size() < maxTokenLength && dev->getChar(&c)) {
        if (c == 127) {
            if (!token.isEmpty())
                token.chop(1);
        } else if (!isBlank(c)) {
            token += c;
        } else {
            dev->ungetChar(c);
            break;
        }
    }
    return token;
}

QByteArray PlyStream::readLineRest()
{
    QIODevice *dev = m_stream.device();
    if (!dev)
        return QByteArray();
    QByteArray line = dev->readLine(maxLineRest);
    int begin = 0;
    int end = line.size();
    while (begin < end && isBlank(line.at(begin)))
        ++begin;
    while (end > begin && isBlank(line.at(end - 1)))
        --end;
    return line.mid(begin, end - begin);
}

quint32 PlyStream::lineNumber() const
{
    return quint32(qint64(m_state) + itemsDone());
}

int PlyStream::status() const
{
    return m_stream.status();
}

void PlyStream::setStatus(int status)
{
    m_stream.setStatus(QDataStream::Status(status));
}

bool PlyStream::atEnd() const
{
    return m_cursor.element >= m_elements.size() || m_stream.atEnd();
}

bool PlyStream::atStart() const
{
    return m_cursor.element == 0 && m_cursor.item == 0 && m_cursor.property == 0 &&
           m_cursor.listRemaining < 0;
}

float PlyStream::progress() const
{
    const qint64 total = m_itemTotal.load(std::memory_order_relaxed);
    const qint64 done = m_itemDone.load(std::memory_order_relaxed);
    if (total <= 0)
        return 0.0f;
    return float(double(done) / double(total));
}

qint64 PlyStream::itemCount() const
{
    qint64 total = 0;
    for (const PlyElement &element : m_elements)
        total += qMax(element.count, 0);
    return total;
}

qint64 PlyStream::itemsDone() const
{
    qint64 done = 0;
    const int last = qMin(m_cursor.element, m_elements.size());
    for (int i = 0; i < last; ++i)
        done += qMax(m_elements.at(i).count, 0);
    if (m_cursor.element < m_elements.size())
        done += m_cursor.item;
    return done;
}

const PlyStream::Position &PlyStream::position() const
{
    return m_cursor;
}

PlyStream::Field PlyStream::currentField() const
{
    Field field;
    if (const PlyElement *element = currentElement())
        field.element = *element;
    if (const PlyProperty *property = currentProperty())
        field.property = *property;
    return field;
}

void PlyStream::resetCursor()
{
    m_cursor = Position();
    updateItemCount();
    updateItemsDone();
}

void PlyStream::updateItemCount()
{
    m_itemTotal.store(itemCount(), std::memory_order_relaxed);
}

void PlyStream::updateItemsDone()
{
    m_itemDone.store(itemsDone(), std::memory_order_relaxed);
}

void PlyStream::applyByteOrder()
{
    if (m_format == BinaryBigEndian)
        m_stream.setByteOrder(QDataStream::BigEndian);
    else if (m_format == BinaryLittleEndian)
        m_stream.setByteOrder(QDataStream::LittleEndian);
}

} // namespace geom
