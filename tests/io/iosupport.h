#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// Helpers shared by the io tests: test content, whole files, and the gzip command as an independent
// peer of our zlib devices.
namespace iotest {

// Compressible text with some variety (a line feed every 61 bytes), or bytes that do not
// compress; the same length always gives the same bytes.
inline QByteArray payload(int length, bool compressible = true)
{
    QByteArray bytes(length, Qt::Uninitialized);
    quint32 state = 0x12345678u ^ quint32(length);
    for (int i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] =
            compressible ? char('a' + (state >> 28) % 6 + (i % 61 == 60 ? -87 : 0)) : char(state >> 24);
    }
    return bytes;
}

// Runs gzip with `arguments` and `input` on its standard input; its standard output goes to
// `output`. False when gzip is missing or fails.
inline bool runGzip(const QStringList &arguments, const QByteArray &input = QByteArray(),
                    QByteArray *output = nullptr)
{
    const QString gzip = QStandardPaths::findExecutable(QStringLiteral("gzip"));
    if (gzip.isEmpty())
        return false;
    QProcess process;
    process.start(gzip, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

// `bytes` compressed by gzip at `level`, without name or time stamp; empty when gzip fails.
inline QByteArray gzipped(const QByteArray &bytes, const QString &level = QStringLiteral("-6"))
{
    QByteArray output;
    runGzip({QStringLiteral("-c"), QStringLiteral("-n"), level}, bytes, &output);
    return output;
}

// Replaces the file at `path` by `bytes`; false when it cannot be written whole.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The whole file at `path`; empty when it cannot be opened.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace iotest
