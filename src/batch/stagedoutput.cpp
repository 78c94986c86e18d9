#include "batch/stagedoutput.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// Name collisions with another writer are retried; any other failure is final.
constexpr int MaximumNameAttempts = 16;

} // namespace

StagedOutput::StagedOutput(const QString &target)
    : m_target(target)
{}

StagedOutput::~StagedOutput()
{
    if (!m_committed && !m_temporary.isEmpty())
        QFile::remove(m_temporary);
}

bool StagedOutput::open(QFile &file)
{
    const QFileInfo target(m_target);
    for (int attempt = 0; attempt < MaximumNameAttempts; ++attempt) {
        const QString name = QStringLiteral("%1/.%2.%3.part")
                                 .arg(target.absolutePath(), target.fileName(),
                                      QString::number(QRandomGenerator::global()->generate(), 36));
        file.setFileName(name);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_temporary = name;
            return true;
        }
        if (!QFileInfo::exists(name))
            break;
    }
    m_error = file.errorString();
    return false;
}

bool StagedOutput::commit()
{
    if (m_temporary.isEmpty() || m_committed) {
        m_error = QStringLiteral("No temporary file");
        return false;
    }
    if (QFileInfo::exists(m_target))
        QFile::setPermissions(m_temporary, QFile::permissions(m_target));
    {
        // The data must be on disk before the name points at it, or a crash could leave an
        // empty target where the old file was.
        QFile written(m_temporary);
        if (!written.open(QIODevice::ReadOnly) || ::fsync(written.handle()) != 0) {
            m_error = written.isOpen() ? qt_error_string(errno) : written.errorString();
            return false;
        }
    }
    // rename() replaces an existing target in one step, so no reader ever sees it missing.
    if (std::rename(QFile::encodeName(m_temporary).constData(), QFile::encodeName(m_target).constData()) !=
        0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_committed = true;
    return true;
}
