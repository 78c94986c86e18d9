#pragma once

#include <QString>

class QFile;

// An output file that appears under its name only when it is complete. It is written under a
// new temporary name in the target's folder; commit() renames it over the target, which until
// then stays as it was. A temporary file that was not committed is removed by the destructor.
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

    QString target() const { return m_target; }
    // The temporary file's path; empty before open() succeeded.
    QString temporaryPath() const { return m_temporary; }
    QString errorString() const { return m_error; }

private:
    QString m_target;
    QString m_temporary;
    QString m_error;
    bool m_committed = false;
};
