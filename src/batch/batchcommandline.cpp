#include "batch/batchcommandline.h"

#include "geom/formats/qrn.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

const QString StlSuffix = QStringLiteral(".stl");
const QString QrnSuffix = QLatin1Char('.') + QLatin1String(geom::Qrn::Extension);

// An argument as text for a message; bytes that are no valid text are shown as \xNN.
QString displayName(const QString &text, const QByteArray &bytes, bool decodable)
{
    if (decodable)
        return text;
    QString shown;
    for (const char c : bytes) {
        const uchar u = uchar(c);
        shown += u >= 0x20 && u < 0x7f ? QString(QLatin1Char(c))
                                       : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

// Whether `argument` is the name of something in the file system (a dangling link included).
bool namesFile(const QString &argument)
{
    const QFileInfo info(argument);
    return info.exists() || info.isSymLink();
}

bool asksForHelp(const QStringList &arguments)
{
    return arguments.contains(QString(BatchOption::Help)) ||
           arguments.contains(QString(BatchOption::ShortHelp));
}

} // namespace

qint8 BatchCommandLine::startDecision() const
{
    if (helpShown)
        return -1;
    if (!jobs.isEmpty())
        return 1;
    return headless ? -1 : 0;
}

BatchCommandLine parseBatchCommandLine(const QStringList &arguments, const QVector<QByteArray> &bytes)
{
    BatchCommandLine line;
    if (asksForHelp(arguments)) {
        line.helpShown = true;
        return line;
    }
    QStringList rest;
    QVector<QByteArray> restBytes;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == BatchOption::Headless) {
            line.headless = true;
            continue;
        }
        rest.append(arguments.at(i));
        restBytes.append(bytes.size() == arguments.size() ? bytes.at(i) : QFile::encodeName(arguments.at(i)));
    }
    const int compressAt = rest.indexOf(QString(BatchOption::Compress));
    const int decompressAt = rest.indexOf(QString(BatchOption::Decompress));
    if (compressAt < 0 && decompressAt < 0)
        return line;
    const int firstAt = compressAt < 0     ? decompressAt
                        : decompressAt < 0 ? compressAt
                                           : qMin(compressAt, decompressAt);

    BatchJobList decompressJobs;
    for (int i = 1; i < rest.size(); ++i) {
        const QString &argument = rest.at(i);
        if (argument == BatchOption::Compress || argument == BatchOption::Decompress)
            continue;
        const bool stl = argument.endsWith(StlSuffix, Qt::CaseInsensitive);
        const bool qrn = argument.endsWith(QrnSuffix, Qt::CaseInsensitive);
        const bool compress = compressAt >= 0 && i > compressAt;
        const bool decompress = decompressAt >= 0 && i > decompressAt;
        // A shell leaves a pattern that matched nothing as it was; a file may still bear the name.
        const bool pattern = argument.contains(QLatin1Char('*')) && !namesFile(argument);
        const bool decodable = QFile::encodeName(argument) == restBytes.at(i);
        const bool wanted = (stl && compress) || (qrn && decompress);

        QString reason;
        if (wanted && pattern)
            reason = QStringLiteral("a pattern that matched no file");
        else if (wanted && !decodable)
            reason = QStringLiteral("the name is not valid in the system's encoding");
        else if (i < firstAt)
            reason = QStringLiteral("it comes before %1").arg(rest.at(firstAt));
        else if (stl && compressAt > i)
            reason = QStringLiteral("it comes before %1").arg(BatchOption::Compress);
        else if (qrn && decompressAt > i)
            reason = QStringLiteral("it comes before %1").arg(BatchOption::Decompress);
        else if (!wanted && compress && decompress)
            reason = QStringLiteral("neither an STL nor a compressed mesh file");
        else if (!wanted && compress)
            reason = QStringLiteral("not an STL file");
        else if (!wanted)
            reason = QStringLiteral("not a compressed mesh file");
        if (!reason.isEmpty()) {
            line.skipped.append(QStringLiteral("Skipped \"%1\": %2")
                                    .arg(displayName(argument, restBytes.at(i), decodable), reason));
            continue;
        }
        BatchJob job;
        job.source = QFileInfo(argument);
        job.kind = stl && compress ? BatchJob::Compress : BatchJob::Decompress;
        (job.kind == BatchJob::Compress ? line.jobs : decompressJobs).append(job);
    }
    line.jobs += decompressJobs;
    return line;
}

QVector<QByteArray> argumentBytes(int argc, const char *const *argv)
{
    QVector<QByteArray> bytes;
    for (int i = 0; i < argc; ++i)
        bytes.append(QByteArray(argv[i]));
    return bytes;
}

QString batchUsage(const QString &program)
{
    const QString lines[] = {
        QStringLiteral("Usage: %1 --headless [-compress/-decompress] [FILE]...").arg(program),
        QStringLiteral("%1 version %2")
            .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion()),
        QStringLiteral("%1 website %2")
            .arg(QCoreApplication::organizationName(), QCoreApplication::organizationDomain()),
        QString(),
        QStringLiteral("Compress from or decompress to your STL 3D Model data."),
        QStringLiteral("File outputs in the same directory with the same name."),
        QString(),
        QStringLiteral("Compression (STL to QRN):"),
        QStringLiteral("%1 %2 model_0.stl model_1.stl").arg(program, BatchOption::Compress),
        QString(),
        QStringLiteral("Decompression (QRN to STL):"),
        QStringLiteral("%1 %2 compressed_0.qrn compressed_1.qrn").arg(program, BatchOption::Decompress),
        QString(),
    };
    QString text;
    for (const QString &line : lines)
        text += line + QLatin1Char('\n');
    return text;
}

bool runsWithoutWindow(const QStringList &arguments)
{
    return asksForHelp(arguments) || arguments.contains(QString(BatchOption::Headless));
}
