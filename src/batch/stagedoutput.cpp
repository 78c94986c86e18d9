#include "batch/stagedoutput.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Name collisions with another writer are retried; any other failure is final.
constexpr int MaximumNameAttempts = 16;
// The longest file name when the file system does not say.
constexpr long DefaultNameMax = 255;
// Temporary files that a signal handler may have to remove at once: one per output being
// written, which the batch does one at a time.
constexpr int PendingSlots = 8;

// A temporary file's encoded path, kept where a signal handler can reach it without locks or
// allocations: state 0 free, 1 being filled or emptied, 2 ready to be removed.
struct PendingFile
{
    std::atomic<int> state{0};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slot states");

PendingFile pending[PendingSlots];

// Records path for removal on a signal; -1 when it does not fit or every slot is taken.
int holdPending(const QByteArray &path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < PendingSlots; ++i) {
        int expected = 0;
        if (pending[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(pending[i].path, path.constData(), size_t(path.size()) + 1);
            pending[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void releasePending(int slot)
{
    if (slot >= 0)
        pending[slot].state.store(0);
}

void removePendingAndExit(int signalNumber)
{
    for (PendingFile &file : pending) {
        if (file.state.load() == 2)
            ::unlink(file.path);
    }
    // note: the exit code a shell reports for a process that a signal ended.
    ::_exit(128 + signalNumber);
}

// The temporary name beside `target`: ".NAME.RANDOM.part", with NAME shortened until the whole
// fits the file system's longest name (in the file name's encoding).
QString temporaryName(const QFileInfo &target, const QString &random)
{
    long nameMax = ::pathconf(QFile::encodeName(target.absolutePath()).constData(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = DefaultNameMax;
    QString base = target.fileName();
    const QString suffix = QStringLiteral(".%1.part").arg(random);
    QString name = QLatin1Char('.') + base + suffix;
    while (QFile::encodeName(name).size() > nameMax && !base.isEmpty()) {
        base.chop(base.size() > 1 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
        name = QLatin1Char('.') + base + suffix;
    }
    return QStringLiteral("%1/%2").arg(target.absolutePath(), name);
}

} // namespace

void StagedOutput::removeTemporaryFilesOnSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removePendingAndExit;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

StagedOutput::StagedOutput(const QString &target)
    : m_target(target)
{}

StagedOutput::~StagedOutput()
{
    if (!m_committed && !m_temporary.isEmpty())
        QFile::remove(m_temporary);
    releasePending(m_pendingSlot);
}

bool StagedOutput::open(QFile &file)
{
    const QFileInfo target(m_target);
    for (int attempt = 0; attempt < MaximumNameAttempts; ++attempt) {
        const QString name =
            temporaryName(target, QString::number(QRandomGenerator::global()->generate(), 36));
        file.setFileName(name);
        // Recorded before the file exists, so that no moment is left in which a signal would
        // leave it behind.
        const int slot = holdPending(QFile::encodeName(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_temporary = name;
            m_pendingSlot = slot;
            return true;
        }
        releasePending(slot);
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
    releasePending(m_pendingSlot);
    m_pendingSlot = -1;
    return true;
}
