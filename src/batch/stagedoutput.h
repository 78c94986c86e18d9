#pragma once

#include <QString>

class QFile;
class QFileDevice;

// An output file that appears under its name only when it is complete. It is written under a
// new temporary name in the target's folder (no longer than the longest name the folder takes); commit()
// renames it over the target, which until then stays as it was. A temporary file that was not committed is
// removed by the destructor. A target that is a symbolic link is written through it: the file at
// the end of the links is staged beside and replaced, and the links stay as they were.
class StagedOutput
{
public:
    explicit StagedOutput(const QString &target);
    ~StagedOutput();
    StagedOutput(const StagedOutput &) = delete;
    StagedOutput &operator=(const StagedOutput &) = delete;

    // Points `file` (a QFile or a subclass such as GZipFile) at a new temporary file beside the
    // target and opens it write-only. False, with errorString() set, when none can be created or
    // the target may not be replaced (see refusal()).
    bool open(QFile &file);
    // Call after the file was written and closed without error: flushes the temporary file to
    // disk, gives it the permissions of an existing target and renames it over the target.
    // False, with errorString() set, when the target was not replaced.
    bool commit();

    // Writes `target` through a staged output of type File (a QFile or a subclass): fill(File &)
    // writes the opened file (and may close it) and returns a null string when the data is
    // complete, else the reason to give when the file itself names none. The file is then
    // closed and put in place. A null string when the target was replaced; else the reason it
    // was not (the file's own account when it gave one), and the target stays as it was.
    template <typename File, typename Filling>
    static QString write(const QString &target, Filling fill)
    {
        StagedOutput staged(target);
        File file;
        if (!staged.open(file))
            return staged.errorString();
        const QString noError = file.errorString();
        const QString fallback = fill(file);
        const QString failure = fallback.isNull() ? closeFailure(file) : fallback;
        if (!failure.isNull())
            return failureOf(file, noError, failure);
        return staged.commit() ? QString() : staged.errorString();
    }

    // Why `target` may not be replaced, as open() refuses it: the file at the end of its links
    // exists and is not a regular file (a folder, pipe, socket or device) or is read-only (no
    // write permission for this process, or no write bit at all in its mode), or the chain of
    // links does not end. A null string otherwise; the write may still fail later, for instance
    // when the folder takes no new file.
    static QString refusal(const QString &target);

    // From now on SIGINT, SIGTERM and SIGHUP remove the temporary files of every staged output
    // not yet committed and end the process with 128 plus the signal's number (130, 143, 129);
    // the targets stay as they were.
    static void removeTemporaryFilesOnSignals();

    // The temporary file's path; empty before open() succeeded.
    QString temporaryPath() const { return m_temporary; }
    QString errorString() const { return m_error; }

private:
    // Closes `file` (when open): null when that raised no error, else "Write failed". A gzip file
    // reports a failure to end its data through its error text alone.
    static QString closeFailure(QFileDevice &file);
    // The file's own account of what went wrong since it was opened, when it gave one (its error
    // text differs from `noError`, the text it had right after opening), else `fallback`. A file
    // still open first pushes out what it holds back, so that the system can give its reason.
    static QString failureOf(QFileDevice &file, const QString &noError, const QString &fallback);

    QString m_target;
    // The file that is replaced: the target, or the end of its chain of links.
    QString m_destination;
    QString m_temporary;
    QString m_error;
    bool m_committed = false;
    // The slot of the temporary file in the list that the signal handler clears; -1 for none.
    int m_pendingSlot = -1;
};
