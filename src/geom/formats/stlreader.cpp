#include "geom/formats/stlreader.h"
#include "geom/formats/formatslog.h"

#include "geom/mesh/stlmesh.h"
#include "geom/mesh/stlmeshbuilder.h"

#include <QIODevice>
#include <QtDebug>
#include <QtEndian>

#include <charconv>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <memory>
#include <new>
#include <vector>

namespace geom {

namespace {

const int headerSize = 80;
const qint64 dataOffset = 84; // header and the 32-bit facet count
const int recordSize = 50;
const qint64 minimumFileSize = dataOffset + 4 * recordSize;
const quint32 maxFacetCount = 0x3FFFFFFF;
// A line is read as by a 512-byte buffer with its terminating NUL: longer lines come in pieces.
const int maxLineLength = 511;
// note: big reads keep the per-call cost of the device out of the way; 1 MiB is far past the
// point where the copy, not the call, dominates.
const int inputChunk = 1 << 20;
const int recordsPerChunk = inputChunk / recordSize;
const qint64 asciiBytesPerFacet = 256;
const std::size_t asciiBatchFacets = 4096;

// Buffered line input from a device, cut as QIODevice::readLine with a 512-byte buffer would cut
// it, without a call per line.
class LineInput
{
public:
    // note: the buffer is left uninitialised: only the bytes between m_begin and m_end, which a
    // read or the move of a refill wrote, are ever looked at, and clearing a megabyte per file
    // costs more than reading a small one.
    explicit LineInput(QIODevice *device)
        : m_device(device)
        , m_buffer(new char[bufferSize])
    {}

    // The next line with its line end, at most maxLineLength bytes; -1 when no byte is left.
    int readLine(const char *&line)
    {
        if (m_end - m_begin < maxLineLength)
            refill();
        if (m_begin == m_end)
            return -1;
        const int available = int(std::min<std::size_t>(m_end - m_begin, maxLineLength));
        const char *start = m_buffer.get() + m_begin;
        const void *newline = std::memchr(start, '\n', std::size_t(available));
        const int length = newline ? int(static_cast<const char *>(newline) - start) + 1 : available;
        line = start;
        m_begin += std::size_t(length);
        m_lineOpen = !newline && available == maxLineLength;
        return length;
    }

    // Whether the last line handed out was only the first maxLineLength bytes of a longer one.
    bool lineOpen() const { return m_lineOpen; }

private:
    void refill()
    {
        if (m_exhausted)
            return;
        std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        while (m_end < std::size_t(maxLineLength) && !m_exhausted) {
            const qint64 got = m_device->read(m_buffer.get() + m_end, qint64(bufferSize - m_end));
            if (got <= 0)
                m_exhausted = true;
            else
                m_end += std::size_t(got);
        }
    }

    static constexpr std::size_t bufferSize = inputChunk + maxLineLength + 1;

    QIODevice *m_device;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_exhausted = false;
    bool m_lineOpen = false;
};

// Strips up to two line-end bytes (CR or LF) and accepts the rest only when every byte is a tab
// or lies in 0x20..0x7F. Returns the length without the line end, or -1 for a failing line.
int checkLine(const char *line, int length)
{
    if (length < 1)
        return length;
    for (int strip = 0; strip < 2 && length > 0; ++strip) {
        const char last = line[length - 1];
        if (last != '\r' && last != '\n')
            break;
        --length;
    }
    int i = 0;
#ifdef __SSE2__
    // note: as signed bytes, everything from 0x80 up is negative, so one compare against 0x20
    // finds the control bytes and the high bytes at once; tabs are then let through.
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    for (; i + 16 <= length; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i));
        const __m128i low = _mm_andnot_si128(_mm_cmpeq_epi8(bytes, tab), _mm_cmplt_epi8(bytes, space));
        if (_mm_movemask_epi8(low) != 0)
            return -1;
    }
#endif
    unsigned bad = 0;
    for (; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        bad |= unsigned(unsigned(c - 0x20u) >= 0x60u) & unsigned(c != '\t');
    }
    return bad ? -1 : length;
}

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline void skipBlanks(const char *&p, const char *end)
{
    while (p < end && isBlank(*p))
        ++p;
}

inline bool onlyBlanks(const char *p, const char *end)
{
    skipBlanks(p, end);
    return p == end;
}

// Numbers that std::from_chars refuses as out of range (and hexadecimal ones) go through the C
// library in the "C" locale, which rounds them to infinity or towards zero as scanf would.
float parseWithCLocale(const char *begin, const char *end, const char **stop)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char text[128];
    const std::size_t n = std::min<std::size_t>(std::size_t(end - begin), sizeof text - 1);
    std::memcpy(text, begin, n);
    text[n] = '\0';
    char *textStop = text;
    const float value = strtof_l(text, &textStop, cLocale);
    *stop = begin + (textStop - text);
    return value;
}

// One number in the syntax of scanf's %g (leading white space, sign, decimal or hexadecimal
// digits, exponent, inf, nan), independent of the process locale. Advances `p` past it.
bool parseNumber(const char *&p, const char *end, float &value)
{
    skipBlanks(p, end);
    const char *s = p;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) {
        negative = *s == '-';
        ++s;
    }
    if (s == end || *s == '+' || *s == '-')
        return false;
    float magnitude = 0.0f;
    const char *stop = s;
    if (end - s > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        magnitude = parseWithCLocale(s, end, &stop);
    } else {
        const std::from_chars_result r = std::from_chars(s, end, magnitude, std::chars_format::general);
        if (r.ec == std::errc::invalid_argument)
            return false;
        stop = r.ptr;
        if (r.ec == std::errc::result_out_of_range)
            magnitude = parseWithCLocale(s, end, &stop);
    }
    if (stop == s)
        return false;
    value = negative ? -magnitude : magnitude;
    p = stop;
    return true;
}

// Whether the text at p begins with the word, followed by a blank or the end. Advances p past
// the word when it does.
template <std::size_t N>
inline bool takeWord(const char *&p, const char *end, const char (&word)[N])
{
    const std::size_t n = N - 1;
    if (std::size_t(end - p) < n || std::memcmp(p, word, n) != 0 || (p + n < end && !isBlank(p[n])))
        return false;
    p += n;
    return true;
}

// A vertex line as " vertex %g %g %g " reads it, from the first byte after the line's leading
// blanks: true when all three numbers were converted.
bool scanVertex(const char *p, const char *end, Vector3f &v)
{
    static const char keyword[] = "vertex";
    const int keywordLength = int(sizeof keyword) - 1;
    if (end - p < keywordLength || std::memcmp(p, keyword, keywordLength) != 0)
        return false;
    p += keywordLength;
    return parseNumber(p, end, v.x) && parseNumber(p, end, v.y) && parseNumber(p, end, v.z);
}

// Reads until `size` bytes came or the device has no more; returns the bytes read.
qint64 readFully(QIODevice *device, char *data, qint64 size)
{
    qint64 total = 0;
    while (total < size) {
        const qint64 got = device->read(data + total, size - total);
        if (got <= 0)
            break;
        total += got;
    }
    return total;
}

} // namespace

class StlReaderPrivate
{
public:
    explicit StlReaderPrivate(QIODevice *ioDevice)
        : device(ioDevice)
        , header(headerSize, ' ')
    {}
    ~StlReaderPrivate() { delete mesh; }

    void parse();
    bool readAscii();
    bool readSolid(LineInput &input, StlMeshBuilder &builder, std::vector<Facet> &batch,
                   const char *solidLine, int solidLength);
    void merge(StlMeshBuilder &builder, const Facet *facets, const quint16 *attributes, int n);
    bool readBinary();

    QIODevice *device;
    QByteArray header;
    StlMesh *mesh = nullptr;
    int format = 0;
    StlReader::Statuses status;
};

void StlReaderPrivate::parse()
{
    if (format != 0 || status != 0)
        return;
    if (!device || (!device->isReadable() && !device->open(QIODevice::ReadOnly))) {
        status |= StlReader::NotReadable;
        return;
    }
    try {
        if (readAscii())
            return;
        // note: solids read before the ASCII attempt failed are not part of a binary file.
        mesh->clear();
        if (!device->reset()) {
            status |= StlReader::NotReadable;
            return;
        }
        if (!readBinary())
            status |= StlReader::NotReadable;
    } catch (const std::bad_alloc &) {
        status |= StlReader::OutOfMemory;
    }
}

bool StlReaderPrivate::readAscii()
{
    LineInput input(device);
    // note: one builder serves every solid and the mesh takes it over once at the end; appending
    // each solid on its own re-sorts the whole mesh per solid, quadratic in the number of solids.
    StlMeshBuilder builder;
    // note: the usual layout takes 250 to 300 bytes per facet; reserving from the file's size saves
    // the builder most of its regrowth. It waits for the first solid line, so that a binary file
    // does not pay for a merge table it never fills.
    const qint64 expectedFacets = std::max<qint64>(device->size() - device->pos(), 0) / asciiBytesPerFacet;
    std::vector<Facet> batch;
    const char *line = nullptr;
    bool solidRead = false;
    for (;;) {
        int length = input.readLine(line);
        if (length < 0) {
            if (!solidRead)
                break;
            mesh->append(builder);
            format = 2;
            return true;
        }
        length = checkLine(line, length);
        if (length < 0)
            break;
        // note: blank lines after a solid's end line are only layout; without this, a file that
        // ends in an empty line would be taken for binary data.
        if (solidRead && onlyBlanks(line, line + length))
            continue;
        if (length < 5 || std::memcmp(line, "solid", 5) != 0)
            break;
        if (!solidRead) {
            builder.reserve(expectedFacets);
            batch.reserve(asciiBatchFacets);
        }
        if (!readSolid(input, builder, batch, line, length))
            break;
        solidRead = true;
    }
    format = 0;
    return false;
}

// Adds the facets to the builder; whenever it fills up, its content goes into the mesh and it
// starts again over the mesh's vertices, which bounds its memory.
void StlReaderPrivate::merge(StlMeshBuilder &builder, const Facet *facets, const quint16 *attributes, int n)
{
    while (n > 0) {
        if (builder.isFull())
            mesh->append(builder);
        const int added = builder.addFacets(facets, attributes, n);
        facets += added;
        if (attributes)
            attributes += added;
        n -= added;
    }
}

// Reads one solid's facets through batch, an empty buffer that the caller keeps for all solids
// (a file of thousands of small solids would otherwise allocate and free a large block per solid).
// Inside the solid every line that is not blank must be the next one of a facet ("facet ...",
// "outer loop", three vertex lines, "endloop", "endfacet"), or, between facets, the end line;
// anything else, or data that ends inside a facet or before the solid's first facet, fails the
// solid. A facet counts once its "endfacet" line was read, so a file cut short never gives part of
// its facets as a whole model.
bool StlReaderPrivate::readSolid(LineInput &input, StlMeshBuilder &builder, std::vector<Facet> &batch,
                                 const char *solidLine, int solidLength)
{
    // Where the next line stands in a facet's grammar.
    enum Expect
    {
        FacetLine,
        OuterLoop,
        Vertex0,
        Vertex1,
        Vertex2,
        EndLoop,
        EndFacet
    };
    const QByteArray endKeyword = QByteArray("end") + QByteArray(solidLine, solidLength);
    // note: facets are parsed a batch at a time and then merged back to back; interleaving the
    // merge with the text parsing costs a third more, the parsing pushing the vertex table out of
    // the caches.
    batch.clear();
    Vector3f corner[3];
    int expect = FacetLine;
    bool facetRead = false;
    // The rest of an overlong solid or facet line says nothing that is read.
    bool skipRest = input.lineOpen();
    const char *line = nullptr;
    for (;;) {
        int length = input.readLine(line);
        if (length < 0)
            break;
        const bool skipped = skipRest;
        skipRest = false;
        length = checkLine(line, length);
        if (length < 0)
            return false;
        if (skipped)
            continue;
        const char *p = line;
        const char *end = line + length;
        skipBlanks(p, end);
        if (p == end)
            continue;
        bool fits = false;
        switch (expect) {
        case Vertex0:
        case Vertex1:
        case Vertex2:
            fits = scanVertex(p, end, corner[expect - Vertex0]);
            break;
        case FacetLine: {
            if (takeWord(p, end, "facet")) {
                fits = true;
                skipRest = input.lineOpen();
                break;
            }
            // The end line: as many bytes as it has of "end" and the solid line, or any other
            // "endsolid" line (peers do not hold the name to the solid's).
            const int compared = std::min(int(end - p), int(endKeyword.size()));
            if (std::memcmp(p, endKeyword.constData(), std::size_t(compared)) == 0 ||
                takeWord(p, end, "endsolid")) {
                merge(builder, batch.data(), nullptr, int(batch.size()));
                batch.clear();
                return true;
            }
            break;
        }
        case OuterLoop:
            fits = takeWord(p, end, "outer");
            skipBlanks(p, end);
            fits = fits && takeWord(p, end, "loop") && onlyBlanks(p, end);
            break;
        case EndLoop:
            fits = takeWord(p, end, "endloop") && onlyBlanks(p, end);
            break;
        case EndFacet:
            fits = takeWord(p, end, "endfacet") && onlyBlanks(p, end);
            break;
        }
        if (!fits)
            return false;
        if (expect != EndFacet) {
            ++expect;
            continue;
        }
        expect = FacetLine;
        facetRead = true;
        batch.emplace_back(corner[0], corner[1], corner[2], Vector3f());
        if (batch.size() == asciiBatchFacets) {
            merge(builder, batch.data(), nullptr, int(batch.size()));
            batch.clear();
        }
    }
    // The data ended without the end line: a file may, but not inside a facet, nor before its
    // first facet, where nothing shows that anything was meant to follow.
    if (expect != FacetLine || !facetRead)
        return false;
    merge(builder, batch.data(), nullptr, int(batch.size()));
    batch.clear();
    return true;
}

bool StlReaderPrivate::readBinary()
{
    const qint64 size = device->size();
    if ((size - dataOffset) % recordSize != 0)
        qCWarning(lcStl, "Invalid STL data alignment");
    if (size < minimumFileSize)
        qCWarning(lcStl, "STL smaller than minimum file size");

    char head[dataOffset];
    if (readFully(device, head, headerSize) != headerSize) {
        status |= StlReader::InvalidFormat;
        return false;
    }
    header = QByteArray(head, headerSize);
    if (readFully(device, head + headerSize, 4) != 4) {
        status |= StlReader::Truncated;
        return false;
    }
    quint32 count = qFromLittleEndian<quint32>(head + headerSize);
    if (count > maxFacetCount) {
        qCWarning(lcStl, "Will not attempt to read past 1 billion facets");
        count = maxFacetCount;
    }
    if (dataOffset + qint64(recordSize) * count > size) {
        status |= StlReader::Truncated;
        return false;
    }

    format = 1;
    StlMeshBuilder builder;
    builder.reserve(count);
    std::vector<uchar> chunk(std::size_t(std::min<quint32>(count, recordsPerChunk)) * recordSize);
    quint32 remaining = count;
    bool complete = true;
    while (remaining > 0) {
        const quint32 wanted = std::min<quint32>(remaining, recordsPerChunk);
        const qint64 got =
            readFully(device, reinterpret_cast<char *>(chunk.data()), qint64(wanted) * recordSize);
        const quint32 records = quint32(got / recordSize);
        const uchar *record = chunk.data();
        for (int left = int(records); left > 0;) {
            const int added = builder.addRecords(record, left);
            record += std::size_t(added) * recordSize;
            left -= added;
            remaining -= quint32(added);
            if (builder.isFull()) {
                mesh->append(builder);
                builder.reserve(remaining);
            }
        }
        if (records < wanted) {
            complete = false;
            break;
        }
    }
    std::vector<uchar>().swap(chunk);
    if (complete) {
        mesh->append(builder);
    } else {
        mesh->clear();
        status |= StlReader::Truncated;
    }
    return status == 0;
}

StlReader::StlReader(QIODevice *device)
    : d(new StlReaderPrivate(device))
{
    if (device && device->pos() != 0)
        qCWarning(lcStl).noquote()
            << QStringLiteral("StlReader is given a used QIODevice, position %1").arg(device->pos());
}

StlReader::~StlReader()
{
    delete d;
}

StlMesh *StlReader::read()
{
    delete d->mesh;
    d->mesh = nullptr;
    d->mesh = new StlMesh;
    d->parse();
    if (d->status != 0)
        return nullptr;
    StlMesh *mesh = d->mesh;
    d->mesh = nullptr;
    return mesh;
}

StlReader::Statuses StlReader::status() const
{
    return d->status;
}

const QByteArray &StlReader::header() const
{
    return d->header;
}

QIODevice *StlReader::device() const
{
    return d->device;
}

int StlReader::format() const
{
    return d->format;
}

} // namespace geom
