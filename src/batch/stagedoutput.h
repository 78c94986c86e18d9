#pragma once

#include <QString>

class QFile;

// An output file that appears under its name only when it is complete. It is written under a
// new temporary name in the target's folder (no longer than the longest name the folder takes); commit()
// renames it over the target, which until then stays as it was. A temporary file that was not committed is
// removed by the destructor.
class StagedOutput
{
public:
    explicit StagedOutput(const QString &target);
    ~StagedOutput();
    StagedOutput(const StagedOutput &) = delete;
    StagedOutput &operator=(const StagedOutput &) = delete;

    // Points `file` (a QFile or a subclass such as GZipFile) at a new temporary file beside the
    // target and opens it write-only. False, with errorString() set, when none can be created.
    bool open(QFile &file);
    // Call after the file was written and closed without error: flushes the temporary file to
    // disk, gives it the permissions of an existing target and renames it over the target.
    // False, with errorString() set, when the target was not replaced.
    bool commit();

    // From now on SIGINT, SIGTERM and SIGHUP remove the temporary files of every staged output
    // not yet committed and end the process with 128 plus the signal's number (130, 143, 129);
    // the targets stay as they were.
    static void removeTemporaryFilesOnSignals();

    QString target() const { return m_target; }
    // The temporary file's path; empty before open() succeeded.
    QString temporaryPath() const { return m_temporary; }
    QString errorString() const { return m_error; }

private:
    QString m_target;
    QString m_temporary;
    QString m_error;
    bool m_committed = false;
    // The slot of the temporary file in the list that the signal handler clears; -1 for none.
    int m_pendingSlot = -1;
};
