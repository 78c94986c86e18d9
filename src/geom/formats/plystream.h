#pragma once

#include "geom/formats/plyelement.h"
#include "geom/formats/plyproperty.h"

#include <QByteArray>
#include <QDataStream>
#include <QList>
#include <QVector>

#include <atomic>

class QIODevice;

namespace geom {

class StlMesh;

// Reads or writes one PLY file over a device the caller owns, value by value, in file order.
// Writing: set format, comment and elements, then save() every value. Reading: processHeader()
// or the first load() reads the header, then load() takes every value. The stream never closes
// the device; it opens it only when a header call finds it closed for the needed direction.
// Used by one thread at a time, except that progress() may be polled from any thread.
class PlyStream
{
public:
    // Encoding of the data section; the value indexes formatNames. Held as a plain int, so any
    // value read from elsewhere stays defined.
    enum Format : int
    {
        InvalidFormat = -1,
        BinaryBigEndian = 0,
        BinaryLittleEndian = 1,
        Ascii = 2
    };

    // The content of the "format" header line.
    struct FormatSpec
    {
        Format type = Ascii;
        QByteArray version = "1.0";

        FormatSpec() = default;
        FormatSpec(Format aType, const QByteArray &aVersion)
            : type(aType)
            , version(aVersion)
        {}
        bool operator==(const FormatSpec &other) const
        {
            return type == other.type && version == other.version;
        }
        bool operator!=(const FormatSpec &other) const { return !(*this == other); }
    };

    // Where the next value belongs. listRemaining counts the entries still to come after the
    // current one while a list length is pending; it is negative otherwise.
    struct Position
    {
        int element = 0;
        int item = 0;
        int property = 0;
        int listRemaining = -1;
    };

    // Copies of the element and property at the cursor (empty records past the last element).
    struct Field
    {
        PlyElement element;
        PlyProperty property;
    };

    static const QList<QByteArray> formatNames;
    // "vertex": float scalars x, y, z; count 0.
    static const PlyElement defaultVertexElement;
    // "face": list vertex_indices of uint entries with a uchar length; count 0.
    static const PlyElement defaultFaceElement;

    // A stream on device (may be null), format ASCII 1.0, no comment, no elements.
    explicit PlyStream(QIODevice *device = nullptr);
    ~PlyStream();
    PlyStream(const PlyStream &) = delete;
    PlyStream &operator=(const PlyStream &) = delete;

    QIODevice *device() const;
    FormatSpec format() const;
    // Takes effect only before the header; later calls with another format log and change nothing.
    void setFormat(const FormatSpec &formatSpec);
    // The header comment, lines joined by LF; percent-decoded ("%xx") when asked.
    QByteArray comment(bool percentDecoded = false) const;
    // Takes effect only before the header. With percentEncode, bytes outside LF and 0x20..0x7F
    // and "%" itself are stored as "%xx"; without it, text holding such control or non-ASCII
    // bytes is refused with a diagnostic.
    void setComment(const QByteArray &text, bool percentEncode = false);
    QList<PlyElement> elements() const;
    // Takes effect only before the header; the cursor is not touched.
    void setElements(const QList<PlyElement> &elements);
    // Starts afresh on device (state 0, cursor at the start, status Ok), keeping format,
    // comment and elements.
    void setDevice(QIODevice *device);

    // Reads the header when no elements are set, else writes it; afterwards answers whether the
    // header is done.
    bool processHeader();
    // Reads the header on the first call; true when at least three header lines were read.
    // False without a message when the device does not begin with "ply\n".
    bool loadHeader();
    // Writes the header on the first call; true when at least three header lines were written.
    bool saveHeader();

    // Writes one value at the cursor in the current property's type and advances. A failure
    // sets status() to QDataStream::WriteFailed; the first error sticks.
    PlyStream &save(double value);
    PlyStream &save(float value);
    PlyStream &save(int value);
    PlyStream &save(uint value);
    PlyStream &save(short value);
    PlyStream &save(ushort value);
    PlyStream &save(char value);
    PlyStream &save(uchar value);

    // Reads one value at the cursor, converted to the argument's type, and advances. A failure
    // sets status() (ReadPastEnd, or ReadCorruptData for bad ASCII) and leaves value 0; so does a
    // list length that is negative or longer than the data left on a random-access device.
    PlyStream &load(double &value);
    PlyStream &load(float &value);
    PlyStream &load(int &value);
    PlyStream &load(uint &value);
    PlyStream &load(short &value);
    PlyStream &load(ushort &value);
    PlyStream &load(char &value);
    PlyStream &load(uchar &value);

    // Skip the rest of the current property value, item or element while reading; each returns
    // the number of bytes the device moved and stops at the first failed read.
    qint64 skipProperty();
    qint64 skipItem();
    qint64 skipElement();

    // QDataStream::Status of the stream; setStatus() is ignored while an error is stored.
    int status() const;
    void setStatus(int status);
    // True past the last element, or when the data stream is at its end.
    bool atEnd() const;
    // True while nothing has been saved or loaded after the header.
    bool atStart() const;
    // Items done over all items, 0..1; 0 without items. Safe to poll from another thread.
    float progress() const;
    qint64 itemCount() const;
    qint64 itemsDone() const;
    const Position &position() const;
    Field currentField() const;

    // Writes mesh as the elements "vertex" and "face" (plus "attribute" when a facet has one),
    // adding them to the schema when missing; a header already written is written afresh. The
    // mesh is only read and must not change meanwhile. False for a null mesh, a failed header or
    // a failed write; a standard exception gives false with its text as a critical message.
    bool saveMesh(const StlMesh *mesh);
    // Replaces mesh's content with the "vertex" and "face" elements read from the device;
    // polygons are triangulated. False for a null mesh, an unreadable header or one cut off
    // before its "end_header" line (mesh cleared), damaged data (the mesh gets the faces read
    // before the damage) or a standard exception.
    bool loadMesh(StlMesh *mesh);

    // Schema helpers.
    // QMetaType::Type of a PLY type name ("char", "int8", "float32", ...); 0 when not one of
    // the eight PLY types.
    static int typeFromName(const QByteArray &name);
    // Bytes of the binary coding of a type; 0 for types without one.
    static int typeSize(int type);
    // The written name of a type ("float"); empty for types without a coding.
    static QByteArray typeName(int type);
    static QByteArray formatLine(const FormatSpec &formatSpec);
    static QByteArray elementLine(const PlyElement &element);
    static QByteArray propertyLine(const PlyProperty &property);
    // Parse one header line; a line that is not recognised gives type InvalidFormat, the empty
    // element or the empty property.
    static FormatSpec parseFormat(const QByteArray &line);
    static PlyElement parseElement(const QByteArray &line);
    static PlyProperty parseProperty(const QByteArray &line);
    // First index at or after from (negative counts as 0) with that name, or -1.
    static int indexOfProperty(const QList<PlyProperty> &properties, const QByteArray &name, int from = 0);
    static int indexOfElement(const QList<PlyElement> &elements, const QByteArray &name, int from = 0);
    static int propertyCount(const QList<PlyProperty> &properties, const QByteArray &name);
    static int elementCount(const QList<PlyElement> &elements, const QByteArray &name);
    // Copy of the first record with that name, or the empty record.
    static PlyProperty propertyByName(const QList<PlyProperty> &properties, const QByteArray &name);
    static PlyElement elementByName(const QList<PlyElement> &elements, const QByteArray &name);
    // Reference to the first record with that name; an empty one with that name is appended
    // when there is none. The reference lives until the list changes.
    static PlyProperty &propertyRef(QList<PlyProperty> &properties, const QByteArray &name);
    static PlyElement &elementRef(QList<PlyElement> &elements, const QByteArray &name);
    // Bytes of one binary item of element when every list holds listLength entries.
    static qint64 itemSize(const PlyElement &element, int listLength);
    // Role of each property: 0, 1, 2 for the scalars x, y, z; -1 otherwise.
    static QVector<int> vertexPropertyMap(const QList<PlyProperty> &properties);
    // Role of each property: 0 for a list named "vertex_ind...", 1 for a scalar named
    // "attr..."; -1 otherwise.
    static QVector<int> facePropertyMap(const QList<PlyProperty> &properties);

private:
    template <typename T>
    PlyStream &saveValue(T value);
    template <typename T>
    PlyStream &loadValue(T &value);
    template <typename T>
    int readValue(int type, T &out);
    template <typename T>
    int writeValue(int type, T value);

    enum SkipScope
    {
        SkipProperty,
        SkipItem,
        SkipElement
    };
    qint64 skipValues(SkipScope scope);
    static bool samePosition(const Position &p, const Position &q);

    bool isAscii() const { return m_format == Ascii; }
    const PlyElement *currentElement() const;
    const PlyProperty *currentProperty() const;
    char nextField();
    void advanceItem();
    void finishValue();
    bool readListLength(const PlyProperty &property);
    bool checkListLength(const PlyProperty &property, int length);
    void skipOneValue(const PlyProperty &property);
    QByteArray readToken();
    QByteArray readLineRest();
    quint32 lineNumber() const;
    void resetCursor();
    void updateItemCount();
    void updateItemsDone();
    void applyByteOrder();
    void stepOverEmptyElements();
    void rewind(bool forWriting);
    bool loadMeshData(StlMesh *mesh);
    bool saveMeshData(const StlMesh *mesh);

    QDataStream m_stream;
    Format m_format = Ascii;
    QByteArray m_version = "1.0";
    QByteArray m_comment;
    QList<PlyElement> m_elements;
    Position m_cursor;
    int m_state = 0;
    // Whether the header last read or written ended with its "end_header" line; loadHeader also
    // accepts one that stops at the end of the device.
    bool m_headerEnded = false;
    // Mirrors of itemCount() and itemsDone() for progress() on other threads.
    std::atomic<qint64> m_itemTotal{0};
    std::atomic<qint64> m_itemDone{0};
};

} // namespace geom
