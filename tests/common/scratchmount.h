#pragma once

// Small file systems of a test's own, for the failures that only a real file system gives: a
// tmpfs of a few pages that a write fills up, or one remounted read-only. They live in a mount
// namespace of the test process, so the test and the programs it starts see them and nobody
// else does, and they go with the process. Mounting needs the right to (root with
// CAP_SYS_ADMIN); without it the tests that need one skip. Header only, Qt Core alone.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sched.h>
#include <sys/mount.h>

namespace mounttest {

// The reason a test gives when it skips for want of a file system of its own.
constexpr char NoMountSkip[] = "no file system can be mounted here (that needs root with CAP_SYS_ADMIN)";

inline bool &insidePrivateNamespace()
{
    static bool inside = false;
    return inside;
}

// Moves this process into a mount namespace of its own. Call first in main, before any thread
// starts: a thread that exists already would stay in the old namespace. False when the system
// does not allow it; nothing is then ever mounted.
inline bool enterPrivateMounts()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return false;
    // A mount under a shared tree would show in the namespace it was copied from too.
    insidePrivateNamespace() = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return insidePrivateNamespace();
}

// A tmpfs on an existing folder, unmounted when this goes (before the folder's own owner removes
// it).
class SmallFileSystem
{
public:
    // Mounts a tmpfs of `bytes` (whole pages) on folder; isMounted() tells whether that worked.
    SmallFileSystem(const QString &folder, qint64 bytes)
        : m_folder(QFile::encodeName(folder))
    {
        const QByteArray options = "size=" + QByteArray::number(bytes);
        m_mounted = insidePrivateNamespace() &&
                    ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }
    // Makes it read-only, with what it holds; false when that fails.
    bool makeReadOnly()
    {
        return m_mounted &&
               ::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace mounttest
