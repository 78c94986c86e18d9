#include "batch/batchcommandline.h"

#include "geom/formats/qrn.h"

#include <QCoreApplication>

namespace {

// Appends a job of `kind` for every argument from the first occurrence of `option` to the end
// that ends in `suffix` and holds no unexpanded pattern.
void collectJobs(const QStringList &arguments, QLatin1String option, const QString &suffix, int kind,
                 BatchJobList &jobs)
{
    const int first = arguments.indexOf(QString(option));
    if (first < 0)
        return;
    for (int i = first; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (!argument.endsWith(suffix, Qt::CaseInsensitive) || argument.contains(QLatin1Char('*')))
            continue;
        BatchJob job;
        job.source = QFileInfo(argument);
        job.kind = kind;
        jobs.append(job);
    }
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

BatchCommandLine parseBatchCommandLine(const QStringList &arguments)
{
    BatchCommandLine line;
    if (asksForHelp(arguments)) {
        line.helpShown = true;
        return line;
    }
    QStringList rest = arguments;
    line.headless = rest.removeAll(QString(BatchOption::Headless)) > 0;
    collectJobs(rest, BatchOption::Compress, QStringLiteral(".stl"), BatchJob::Compress, line.jobs);
    collectJobs(rest, BatchOption::Decompress, QLatin1Char('.') + QLatin1String(geom::Qrn::Extension),
                BatchJob::Decompress, line.jobs);
    return line;
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
