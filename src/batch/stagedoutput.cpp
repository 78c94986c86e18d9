#include "batch/stagedoutput.h"

#include "batch/failuretext.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Name collisions with another writer are retried; any other failure is final.
constexpr int MaximumNameAttempts = 16;
// The longest file name when the file system does not say.
constexpr long DefaultNameMax = 255;
// Links followed at most from a target to the file it names (the system's own limit for a path).
constexpr int MaximumLinkHops = 40;
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

// The temporary name beside the absolute path `target`: ".NAME.RANDOM.part", with NAME shortened
// until the whole fits the file system's longest name (in the file name's encoding). The folder
// is the target's as written: a ".." after a linked folder is left for the system to resolve.
QString temporaryName(const QString &target, const QString &random)
{
    const int slash = target.lastIndexOf(QLatin1Char('/'));
    const QString folder = target.left(qMax(slash, 1));
    long nameMax = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = DefaultNameMax;
    QString base = target.mid(slash + 1);
    const QString suffix = QStringLiteral(".%1.part").arg(random);
    QString name = QLatin1Char('.') + base + suffix;
    while (QFile::encodeName(name).size() > nameMax && !base.isEmpty()) {
        base.chop(base.size() > 1 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
        name = QLatin1Char('.') + base + suffix;
    }
    return target.left(slash + 1) + name;
}

// The path at the end of the chain of symbolic links that `path` (absolute, encoded) starts;
// `path` itself when it is no link, or none that can be read (the open that follows then names
// the reason). Empty, with errno set, when the chain does not end or a link is too long.
QByteArray followLinks(QByteArray path)
{
    for (int hop = 0; hop < MaximumLinkHops; ++hop) {
        char link[PATH_MAX];
        const ssize_t length = ::readlink(path.constData(), link, sizeof link);
        if (length < 0)
            return path;
        if (size_t(length) == sizeof link) {
            errno = ENAMETOOLONG;
            return QByteArray();
        }
        QByteArray next(link, int(length));
        // A relative link is read from the folder the link lies in.
        if (!next.startsWith('/'))
            next.prepend(path.left(path.lastIndexOf('/') + 1));
        path = next;
    }
    errno = ELOOP;
    return QByteArray();
}

// Why the existing file at `path` may not be replaced; null when it may (also when there is
// none). Only a regular file is replaced: the rename would put a file in the place of a device or
// a pipe that a link leads to, such as /dev/null. A file without any write bit is refused even
// for a process that may write anything (an administrator): its owner marked it as not to be
// changed, and the rename that completes the output would replace it whatever its mode says.
QString replacementRefusal(const QByteArray &path)
{
    struct stat status;
    if (::stat(path.constData(), &status) != 0)
        return QString();
    const QString type = fileTypeFailureText(status.st_mode);
    if (!type.isNull())
        return type;
    if (::access(path.constData(), W_OK) != 0)
        return qt_error_string(errno);
    return status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH) ? QString() : qt_error_string(EACCES);
}

// The file that writing `target` replaces: the end of its chain of links (encoded). Empty, with
// `refused` set, when the chain does not end or that file may not be replaced.
QByteArray replaceableDestination(const QString &target, QString &refused)
{
    const QByteArray destination = followLinks(QFile::encodeName(QFileInfo(target).absoluteFilePath()));
    refused = destination.isEmpty() ? qt_error_string(errno) : replacementRefusal(destination);
    return refused.isNull() ? destination : QByteArray();
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

QString StagedOutput::refusal(const QString &target)
{
    QString refused;
    replaceableDestination(target, refused);
    return refused;
}

bool StagedOutput::open(QFile &file)
{
    const QByteArray destination = replaceableDestination(m_target, m_error);
    if (!m_error.isNull())
        return false;
    // Staged beside the file that is replaced, since a rename cannot leave its file system.
    m_destination = QFile::decodeName(destination);
    for (int attempt = 0; attempt < MaximumNameAttempts; ++attempt) {
        const QString name =
            temporaryName(m_destination, QString::number(QRandomGenerator::global()->generate(), 36));
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
    if (QFileInfo::exists(m_destination))
        QFile::setPermissions(m_temporary, QFile::permissions(m_destination));
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
    if (std::rename(QFile::encodeName(m_temporary).constData(),
                    QFile::encodeName(m_destination).constData()) != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_committed = true;
    releasePending(m_pendingSlot);
    m_pendingSlot = -1;
    return true;
}

QString StagedOutput::closeFailure(QFileDevice &file)
{
    const QString beforeClose = file.errorString();
    file.close();
    const bool closed = file.error() == QFileDevice::NoError && file.errorString() == beforeClose;
    return closed ? QString() : QStringLiteral("Write failed");
}

QString StagedOutput::failureOf(QFileDevice &file, const QString &noError, const QString &fallback)
{
    // note: when a buffered block fills the disk, the system takes its start and the file keeps
    // the rest with an error that has no text; pushed once more, the rest is refused with the
    // system's reason. A gzip file's own flush is not called: it would add compressed data.
    if (file.isOpen())
        file.QFileDevice::flush();
    const QString text = file.errorString();
    return file.error() != QFileDevice::NoError || text != noError ? text : fallback;
}
