#include "io/gzipreader.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr unsigned char GzipMagic0 = 0x1f;
constexpr unsigned char GzipMagic1 = 0x8b;
// gzip header parsing and decoding (15 window bits plus 16).
constexpr int GzipWindowBits = 15 + 16;
// zlib counts in unsigned ints; larger requests go in pieces.
constexpr qint64 MaximumPiece = qint64(1) << 30;

} // namespace

struct GZipReader::Stream
{
    z_stream z{};
    bool ready = false;
};

GZipReader::GZipReader(int fd, int bufferSize)
    : m_fd(fd)
    , m_stream(new Stream)
    , m_inSize(std::size_t(bufferSize))
    , m_outSize(2 * std::size_t(bufferSize))
{
    m_in.reset(new char[m_inSize]);
    m_out.reset(new char[m_outSize]);
    m_stream->ready = inflateInit2(&m_stream->z, GzipWindowBits) == Z_OK;
    restart();
}

GZipReader::~GZipReader()
{
    if (m_stream->ready)
        inflateEnd(&m_stream->z);
}

void GZipReader::restart()
{
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(m_in.get());
    z.avail_in = 0;
    m_outBegin = m_outEnd = 0;
    m_fileRead = 0;
    m_produced = 0;
    m_fileEnd = false;
    m_inMember = false;
    m_state = Reading;
    m_message.clear();
    if (!m_stream->ready) {
        fail(QStringLiteral("out of memory"));
        return;
    }
    // As zlib decides: content that does not begin with the two bytes of a gzip header is plain.
    while (z.avail_in < 2 && !m_fileEnd) {
        if (!fill())
            return;
    }
    m_direct = !atMemberStart();
}

bool GZipReader::atMemberStart() const
{
    const z_stream &z = m_stream->z;
    const auto *in = reinterpret_cast<const unsigned char *>(z.next_in);
    return z.avail_in >= 2 && in[0] == GzipMagic0 && in[1] == GzipMagic1;
}

qint64 GZipReader::compressedPosition() const
{
    return m_fileRead - qint64(m_stream->z.avail_in);
}

void GZipReader::fail(const QString &message)
{
    m_state = Damaged;
    m_message = message;
}

bool GZipReader::fill()
{
    z_stream &z = m_stream->z;
    if (z.avail_in > 0 && reinterpret_cast<char *>(z.next_in) != m_in.get())
        std::memmove(m_in.get(), z.next_in, z.avail_in);
    z.next_in = reinterpret_cast<Bytef *>(m_in.get());
    if (m_fileEnd || z.avail_in == m_inSize)
        return true;
    // note: one read per call keeps the input buffer's refill as cheap as zlib's own.
    ssize_t n;
    do {
        n = ::pread(m_fd, m_in.get() + z.avail_in, m_inSize - z.avail_in, off_t(m_fileRead));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        fail(qt_error_string(errno));
        return false;
    }
    m_fileEnd = n == 0;
    z.avail_in += uInt(n);
    m_fileRead += n;
    return true;
}

qint64 GZipReader::copyPlain(char *data, qint64 n)
{
    z_stream &z = m_stream->z;
    qint64 got = 0;
    while (got < n) {
        if (z.avail_in == 0) {
            if (m_fileEnd || !fill())
                break;
            if (z.avail_in == 0)
                break;
        }
        const qint64 piece = std::min<qint64>(n - got, z.avail_in);
        std::memcpy(data + got, z.next_in, std::size_t(piece));
        z.next_in += piece;
        z.avail_in -= uInt(piece);
        got += piece;
    }
    if (got == 0 && m_state == Reading && m_fileEnd && z.avail_in == 0)
        m_state = Ended;
    return got;
}

qint64 GZipReader::produce(char *data, qint64 n)
{
    if (m_state != Reading)
        return m_state == Ended ? 0 : -1;
    if (m_direct) {
        const qint64 got = copyPlain(data, n);
        m_produced += got;
        return got > 0 || m_state != Damaged ? got : -1;
    }
    z_stream &z = m_stream->z;
    qint64 made = 0;
    while (made < n && m_state == Reading) {
        if (!m_inMember) {
            // Between members: the file ends here, or a whole member follows.
            if (z.avail_in < 2 && !m_fileEnd && !fill())
                break;
            if (z.avail_in == 0 && m_fileEnd) {
                m_state = Ended;
                break;
            }
            if (z.avail_in < 2 && !m_fileEnd)
                continue;
            if (!atMemberStart()) {
                fail(QStringLiteral("data after the last gzip member"));
                break;
            }
            inflateReset(&z);
            m_inMember = true;
        }
        if (z.avail_in == 0) {
            if (!fill())
                break;
            if (z.avail_in == 0) {
                fail(QStringLiteral("unexpected end of file"));
                break;
            }
        }
        const uInt room = uInt(std::min(n - made, MaximumPiece));
        z.next_out = reinterpret_cast<Bytef *>(data + made);
        z.avail_out = room;
        const uInt inBefore = z.avail_in;
        const int result = inflate(&z, Z_NO_FLUSH);
        made += room - z.avail_out;
        if (result == Z_STREAM_END) {
            m_inMember = false;
            continue;
        }
        if (result == Z_OK || (result == Z_BUF_ERROR && (z.avail_in == 0 || z.avail_in != inBefore)))
            continue;
        fail(QString::fromLatin1(z.msg ? z.msg : zError(result)));
    }
    m_produced += made;
    return made > 0 || m_state != Damaged ? made : -1;
}

qint64 GZipReader::refillOutput()
{
    const qint64 r = produce(m_out.get(), qint64(m_outSize));
    m_outBegin = 0;
    m_outEnd = r > 0 ? std::size_t(r) : 0;
    return r;
}

qint64 GZipReader::takeBuffered(char *data, qint64 n)
{
    const std::size_t piece = std::size_t(std::min<qint64>(n, qint64(m_outEnd - m_outBegin)));
    std::memcpy(data, m_out.get() + m_outBegin, piece);
    m_outBegin += piece;
    return qint64(piece);
}

qint64 GZipReader::read(char *data, qint64 n)
{
    if (n <= 0)
        return 0;
    qint64 got = takeBuffered(data, n);
    while (got < n) {
        // note: large requests are inflated straight into the caller's memory, small ones
        // through the output buffer, as gzread does.
        const bool direct = n - got >= qint64(m_outSize);
        const qint64 r = direct ? produce(data + got, n - got) : refillOutput();
        if (r <= 0)
            return got > 0 ? got : r;
        got += direct ? r : takeBuffered(data + got, n - got);
    }
    return got;
}

qint64 GZipReader::readLine(char *data, qint64 room)
{
    if (room < 1)
        return -1;
    qint64 length = 0;
    while (length < room - 1) {
        if (m_outBegin == m_outEnd && refillOutput() <= 0)
            break;
        const std::size_t want =
            std::size_t(std::min<qint64>(room - 1 - length, qint64(m_outEnd - m_outBegin)));
        const char *start = m_out.get() + m_outBegin;
        const void *newline = std::memchr(start, '\n', want);
        const std::size_t take = newline ? std::size_t(static_cast<const char *>(newline) - start) + 1 : want;
        std::memcpy(data + length, start, take);
        m_outBegin += take;
        length += qint64(take);
        if (newline)
            break;
    }
    data[length] = '\0';
    return length > 0 ? length : -1;
}

bool GZipReader::atEnd()
{
    return m_outBegin == m_outEnd && refillOutput() <= 0;
}

bool GZipReader::unread(char c)
{
    if (m_outBegin == 0) {
        if (m_outEnd >= m_outSize)
            return false;
        std::memmove(m_out.get() + 1, m_out.get(), m_outEnd);
        ++m_outEnd;
        ++m_outBegin;
    }
    m_out[--m_outBegin] = c;
    return true;
}

bool GZipReader::seek(qint64 target)
{
    if (target < 0)
        return false;
    if (target < position() || m_state == Damaged)
        restart();
    // The bytes on the way are inflated through the output buffer and passed over there.
    while (position() < target) {
        if (m_outBegin == m_outEnd && refillOutput() <= 0)
            return false;
        m_outBegin += std::size_t(std::min<qint64>(target - position(), qint64(m_outEnd - m_outBegin)));
    }
    return true;
}
