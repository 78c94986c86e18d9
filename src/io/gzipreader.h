#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// Reads a file of gzip members through zlib's inflate, or passes a file without a gzip header
// through unchanged. Unlike zlib's gz functions it takes whole members only: bytes behind the
// last member that do not begin another one make the data damaged, where gzread drops them in
// silence. Works on a descriptor it does not own (positioned reads, so the descriptor's own
// offset is never used). One thread at a time.
class GZipReader
{
public:
    enum State
    {
        Reading,
        Ended,  // every byte was handed out and the data ended cleanly
        Damaged // the data is damaged or cut short, or the file could not be read; see message()
    };

    // Looks at the first bytes of the file to tell gzip from plain content; `bufferSize` bytes
    // of input are read at a time (the output buffer of small reads is twice that).
    GZipReader(int fd, int bufferSize);
    ~GZipReader();
    GZipReader(const GZipReader &) = delete;
    GZipReader &operator=(const GZipReader &) = delete;

    // Up to n bytes into data: the count, 0 at the clean end, -1 when damage stops the data
    // before any byte came (bytes before the damage are handed out first).
    qint64 read(char *data, qint64 n);
    // A line as zlib's gzgets gives it: at most room - 1 bytes, up to and with the first line
    // feed, NUL-terminated. The length, or -1 when no byte came.
    qint64 readLine(char *data, qint64 room);
    // Whether a byte follows (reads ahead into the output buffer to learn it).
    bool atEnd();
    // Puts c in front of the next byte read; false when there is no room for it.
    bool unread(char c);
    // Moves to the uncompressed position `target` (by reading from the start when it lies
    // behind), clearing a damage met before; false when the data ends or fails before it.
    bool seek(qint64 target);
    bool rewind() { return seek(0); }

    State state() const { return m_state; }
    // Why the data is damaged; empty otherwise.
    QString message() const { return m_message; }
    // Plain content that is passed through.
    bool direct() const { return m_direct; }
    // Uncompressed bytes handed out so far.
    qint64 position() const { return m_produced - qint64(m_outEnd - m_outBegin); }
    // Uncompressed bytes inflated so far, those still buffered for the next read included; the
    // uncompressed size once the state is Ended.
    qint64 produced() const { return m_produced; }
    // Bytes of the file consumed so far.
    qint64 compressedPosition() const;

private:
    // Inflates (or copies) up to n bytes into data; the count, 0 at the clean end, -1 when
    // damage came first.
    qint64 produce(char *data, qint64 n);
    qint64 copyPlain(char *data, qint64 n);
    // Fills the output buffer afresh with what produce() gives; its count, as produce's.
    qint64 refillOutput();
    // Up to n bytes of the output buffer into data; the count.
    qint64 takeBuffered(char *data, qint64 n);
    // Keeps the unread input and adds what the file has behind it; false when the file cannot
    // be read (the state is then Damaged).
    bool fill();
    // Whether the unread input begins with the two bytes of a gzip header.
    bool atMemberStart() const;
    void fail(const QString &message);
    void restart();

    struct Stream;
    int m_fd;
    std::unique_ptr<Stream> m_stream;
    std::unique_ptr<char[]> m_in;
    std::unique_ptr<char[]> m_out;
    std::size_t m_inSize;
    std::size_t m_outSize;
    std::size_t m_outBegin = 0;
    std::size_t m_outEnd = 0;
    qint64 m_fileRead = 0; // bytes of the file read into the input buffer so far
    qint64 m_produced = 0; // bytes inflated or copied so far
    bool m_fileEnd = false;
    bool m_direct = false;
    bool m_inMember = false;
    State m_state = Reading;
    QString m_message;
};
