#pragma once

#include <QFile>

// A file whose content is a gzip stream, read or written through zlib; positions and sizes
// count uncompressed bytes. Read-only or write-only (also append), never both. Reading passes
// plain (non-gzip) content through unchanged and takes gzip content as whole members only. One
// thread uses the device; pos() may also be read from another thread while that one reads or
// writes.
class GZipFile : public QFile
{
    Q_OBJECT

public:
    explicit GZipFile(QObject *parent = nullptr);
    explicit GZipFile(const QString &name, QObject *parent = nullptr);
    // Closes the device when it is open, which ends the gzip data.
    ~GZipFile() override;

    // ReadOnly opens without inflating anything; WriteOnly empties the file; Append measures
    // the old content by inflating it once, then writes a new gzip member behind it.
    // ReadWrite is refused ("GZipFile.open does not support ReadWrite."), as are sequential
    // files ("GZipFile.open does not support streams.").
    bool open(OpenMode mode) override;
    // Open the plain file from a handle as QFile does; no gzip stream is attached, so reads and
    // writes through such a device fail.
    bool open(FILE *file, OpenMode mode, FileHandleFlags handleFlags = DontCloseHandle);
    bool open(int fd, OpenMode mode, FileHandleFlags handleFlags = DontCloseHandle);
    // Ends the gzip data (a write is complete on disk only after this) and closes the file.
    // A failure to finish the data is left in errorString().
    void close() override;

    // Uncompressed bytes read or written so far (with Append, counted from the old size).
    // Safe to call from another thread while the device is in use.
    qint64 pos() const override;
    // Writing: pos(). Reading: the larger of the size on disk and the uncompressed size. The
    // uncompressed size of gzip content is learnt by inflating it once, at the first call that
    // needs it (unless a read has reached the clean end); call it from the owning thread.
    qint64 size() const override;
    // Reading: bytes of the file that zlib has consumed so far; 0 otherwise. Safe from another
    // thread, as pos() is: a progress that divides it by the size on disk needs no pass.
    qint64 compressedPos() const;
    // Moves to an uncompressed position; backwards and forwards seeks of a read restart or skip
    // through the stream. Returns false when zlib cannot get there.
    bool seek(qint64 pos) override;
    // Rewinds a read to the first byte; false without a gzip stream or while writing.
    bool reset() override;
    // Reading: whether every uncompressed byte has been read (the size on disk does not count).
    bool atEnd() const override;
    // Always false; readLine() works all the same.
    bool canReadLine() const override;

    // Pushes the rest of the compressed data through with a synchronous flush; true on success.
    bool flush();

    int bufferSize() const;
    // Stores the zlib buffer size for the next open, at least 4096 bytes; returns what it stored.
    int setBufferSize(int size);
    // Reading: -1 for gzip content, 0 for plain content. Otherwise the stored level.
    int compressionLevel() const;
    int compressionStrategy() const;
    // Stores the level (clamped to -1..9) and the zlib strategy; when writing, applies both at
    // once and returns zlib's result, otherwise returns 0.
    int setCompression(int level, int strategy);
    // Pushes one byte back so that the next read returns it first.
    void ungetChar(char c);

protected:
    // Counts of uncompressed bytes. A read gives 0 at the end of intact data and -1 when the
    // stream is damaged or cut short (a data error, a check or length mismatch in its trailer,
    // no trailer, bytes behind the last member that begin no whole member), with the reason in
    // errorString(); the bytes before the damage come first. A write gives -1 for nothing
    // written.
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 readLineData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 len) override;

private:
    struct Private;

    // Opens the plain file through openFile() (a QFile::open overload); no stream is attached.
    template <typename OpenFile>
    bool openHandle(OpenMode mode, OpenFile openFile);
    bool attachStream();
    void updatePosition();
    // The message of a failed write: the system's for a failed file write, else the deflater's.
    QString writeFailure() const;
    qint64 streamPosition() const;
    // Reading gzip content: inflates the rest once to learn the uncompressed size and returns to
    // the same stream position; afterwards the size is known. Returns it (-1 without a stream).
    qint64 measureSize() const;

    Private *d;
};
