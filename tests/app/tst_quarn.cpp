// Runs the built program end to end in a temporary folder, without a display.

#include "batchfixtures.h"
#include "meshcheck.h"
#include "scratchmount.h"
#include "stltestdata.h"
#include "threadlessrun.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace batchtest;

namespace {

struct Result
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Variables of the environment to set for a run; an empty value removes the variable.
using Environment = QMap<QString, QString>;

// Runs `command` (the program, or a wrapper and its options followed by the program when
// `wrapper` is given) in `folder` with no display, no forced platform, no logging rules and a
// runtime folder unless `changes` say otherwise.
Result run(const QString &folder, const QStringList &arguments, const QStringList &wrapper = QStringList(),
           const Environment &changes = Environment())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "QT_LOGGING_RULES"})
        environment.remove(QLatin1String(name));
    // The runtime folder is named so that Qt does not warn about a missing one.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder + QStringLiteral("/.runtime"));
    QDir(folder).mkpath(QStringLiteral(".runtime"));
    QFile::setPermissions(folder + QStringLiteral("/.runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (it.value().isEmpty())
            environment.remove(it.key());
        else
            environment.insert(it.key(), it.value());
    }

    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    QStringList all = wrapper.mid(1);
    all << QStringLiteral(QUARN_EXECUTABLE) << arguments;
    process.start(wrapper.isEmpty() ? QStringLiteral(QUARN_EXECUTABLE) : wrapper.first(),
                  wrapper.isEmpty() ? arguments : all);
    Result result;
    result.finished = process.waitForFinished(120000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QStringList lines(const QByteArray &text)
{
    QStringList out = QString::fromLocal8Bit(text).split(QLatin1Char('\n'));
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

QStringList folderFiles(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

// Runs the program with arguments in a fresh folder holding a.stl and checks that it finished
// with code 0, wrote nothing to standard error and left the folder as it was; out receives its
// standard output.
void runLeavingFolder(const QStringList &arguments, QByteArray *out)
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("a.stl")), meshtest::unitCube()));
    const QStringList before = folderFiles(dir.path());

    const Result result = run(dir.path(), arguments);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(folderFiles(dir.path()), before);
    *out = result.out;
}

// The two conversions as rows: the option, the source the test makes and the output.
void addConversionRows()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("output");
    QTest::newRow("compress") << "-compress"
                              << "a.stl"
                              << "a.qrn";
    QTest::newRow("decompress") << "-decompress"
                                << "a.qrn"
                                << "a.stl";
}

// Writes facets to path as STL or compressed, as its suffix says.
bool writeSource(const QString &path, const QVector<geom::Facet> &facets)
{
    return path.endsWith(QLatin1String(".stl")) ? writeStl(path, facets) : writeQrn(path, facets);
}

} // namespace

class TestQuarn : public QObject
{
    Q_OBJECT

private slots:
    void usage_data();
    void usage();
    void headlessWithoutFile_data();
    void headlessWithoutFile();
    void skippedArguments_data();
    void skippedArguments();
    void undecodableName();
    void onlyFailuresOnStandardError();
    void signalLeavesFolder_data();
    void signalLeavesFolder();
    void compressTwo();
    void decompressRestoresMesh();
    void truncatedFileFailsAlone();
    void damagedGzipIsCorrupted_data();
    void damagedGzipIsCorrupted();
    void damagedAsciiKeepsOutput_data();
    void damagedAsciiKeepsOutput();
    void refusedInputsAreTold();
    void namesWithPatternCharacters();
    void readOnlyFolderKeepsOutput();
    void readOnlyOutputRefused_data();
    void readOnlyOutputRefused();
    void unreplaceableOutputsRefused_data();
    void unreplaceableOutputsRefused();
    void fullDiskKeepsOutput_data();
    void fullDiskKeepsOutput();
    void linkedOutputWrittenThrough();
    void refusedThreadFails_data();
    void refusedThreadFails();
    void sampleModel();
    void exportsOnlyDriverHints();
};

void TestQuarn::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("-h") << QStringList{"-h"};
    QTest::newRow("--help") << QStringList{"--help"};
    QTest::newRow("help among batch arguments") << QStringList{"--headless", "-compress", "a.stl", "-h"};
}

void TestQuarn::usage()
{
    QFETCH(QStringList, arguments);
    QByteArray out;
    runLeavingFolder(arguments, &out);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(lines(out), usageLines(QStringLiteral(QUARN_EXECUTABLE)));
}

void TestQuarn::headlessWithoutFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing else") << QStringList{"--headless"};
    QTest::newRow("file without option") << QStringList{"--headless", "a.stl"};
}

void TestQuarn::headlessWithoutFile()
{
    QFETCH(QStringList, arguments);
    QByteArray out;
    runLeavingFolder(arguments, &out);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(out, QByteArray());
}

void TestQuarn::skippedArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("line");
    QTest::newRow("not an STL file") << QStringList{"--headless", "-compress", "model.ply"}
                                     << "Skipped \"model.ply\": not an STL file";
    QTest::newRow("no extension") << QStringList{"--headless", "-compress", "noext"}
                                  << "Skipped \"noext\": not an STL file";
    QTest::newRow("STL file to decompress") << QStringList{"--headless", "-decompress", "a.stl"}
                                            << "Skipped \"a.stl\": not a compressed mesh file";
    QTest::newRow("unexpanded pattern") << QStringList{"--headless", "-compress", "*.stl"}
                                        << "Skipped \"*.stl\": a pattern that matched no file";
    QTest::newRow("file before the option")
        << QStringList{"--headless", "a.stl", "-compress"} << "Skipped \"a.stl\": it comes before -compress";
}

// An argument that a batch command line does not take is said, and the run fails.
void TestQuarn::skippedArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, line);
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("a.stl")), meshtest::unitCube()));
    const QStringList before = folderFiles(dir.path());

    const Result result = run(dir.path(), arguments);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(lines(result.err), QStringList{line});
    QCOMPARE(folderFiles(dir.path()), before);
}

// A name that is no valid text in the system's encoding is reported, not taken for a missing file.
void TestQuarn::undecodableName()
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("plain.stl")), meshtest::unitCube()));
    const QByteArray raw = QFile::encodeName(dir.path()) + "/lat\xe9.stl";
    QCOMPARE(
        ::rename(QFile::encodeName(dir.filePath(QStringLiteral("plain.stl"))).constData(), raw.constData()),
        0);
    const QStringList before = folderFiles(dir.path());

    // The name goes through a shell, since the arguments of a QProcess are text.
    const QStringList shell{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                            QStringLiteral("exec \"$0\" --headless -compress \"$(printf 'lat\\351.stl')\"")};
    const Result result = run(dir.path(), {}, shell);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err),
             QStringList{
                 QStringLiteral("Skipped \"lat\\xe9.stl\": the name is not valid in the system's encoding")});
    QCOMPARE(folderFiles(dir.path()), before);
}

// Without a runtime folder and with meshes that make the libraries talk, standard error holds one
// line per failed file; logging rules bring the libraries' diagnostics back.
void TestQuarn::onlyFailuresOnStandardError()
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("odd.stl")), meshtest::degenerateFacets()));
    QVERIFY(writeQrn(dir.filePath(QStringLiteral("bad.qrn")), meshtest::sheet(6, 6)));
    const QByteArray whole = readAll(dir.filePath(QStringLiteral("bad.qrn")));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("bad.qrn")), whole.left(whole.size() - 8)));
    const QStringList arguments{"--headless", "-compress", "odd.stl", "-decompress", "bad.qrn"};
    const QString failure = QStringLiteral("Unable to open \"bad.qrn\" (Corrupted data).");

    Result result =
        run(dir.path(), arguments, {}, Environment{{QStringLiteral("XDG_RUNTIME_DIR"), QString()}});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err), QStringList{failure});
    QVERIFY(readQrn(dir.filePath(QStringLiteral("odd.qrn"))));

    result = run(dir.path(), arguments, {},
                 Environment{{QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quarn.*=true")}});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    const QStringList all = lines(result.err);
    QVERIFY2(all.size() > 1 && all.contains(failure), result.err.constData());
}

void TestQuarn::signalLeavesFolder_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("SIGINT") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
}

// A signal while the output is being written removes the temporary file and keeps the old output.
void TestQuarn::signalLeavesFolder()
{
    QFETCH(int, signalNumber);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("big.stl")), meshtest::Torus(400000).facets()));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("big.qrn")), "old"));
    const QStringList before = folderFiles(dir.path());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUARN_EXECUTABLE), {"--headless", "-compress", "big.stl"});
    QVERIFY(process.waitForStarted());
    const bool writing = QTest::qWaitFor([&] { return !temporaryFiles(dir.path()).isEmpty(); }, 60000);
    QVERIFY2(writing, "the output was never being written");
    QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(folderFiles(dir.path()), before);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("big.qrn"))), QByteArray("old"));
}

void TestQuarn::compressTwo()
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("a.stl")), meshtest::unitCube()));
    QVERIFY(writeStl(dir.filePath(QStringLiteral("B.STL")), meshtest::tetrahedron()));

    const Result result = run(dir.path(), {"--headless", "-compress", "a.stl", "B.STL"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.err, QByteArray());
    const auto a = readQrn(dir.filePath(QStringLiteral("a.qrn")));
    const auto b = readQrn(dir.filePath(QStringLiteral("B.qrn")));
    const auto aSource = readStl(dir.filePath(QStringLiteral("a.stl")));
    const auto bSource = readStl(dir.filePath(QStringLiteral("B.STL")));
    QCOMPARE(compareMeshes(a.get(), aSource.get()), QString());
    QCOMPARE(compareMeshes(b.get(), bSource.get()), QString());
}

void TestQuarn::decompressRestoresMesh()
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("a.stl")), meshtest::Torus(2000).facets()));
    Result result = run(dir.path(), {"--headless", "-compress", "a.stl"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(
        QFile::rename(dir.filePath(QStringLiteral("a.stl")), dir.filePath(QStringLiteral("original.stl"))));

    result = run(dir.path(), {"--headless", "-decompress", "a.qrn"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    const auto restored = readStl(dir.filePath(QStringLiteral("a.stl")));
    const auto original = readStl(dir.filePath(QStringLiteral("original.stl")));
    QVERIFY(restored);
    QCOMPARE(compareMeshes(restored.get(), original.get()), QString());
}

void TestQuarn::truncatedFileFailsAlone()
{
    QTemporaryDir dir;
    QVERIFY(writeQrn(dir.filePath(QStringLiteral("first.qrn")), meshtest::unitCube()));
    QVERIFY(writeQrn(dir.filePath(QStringLiteral("bad.qrn")), meshtest::sheet(10, 10)));
    QVERIFY(writeQrn(dir.filePath(QStringLiteral("last.qrn")), meshtest::tetrahedron()));
    const QByteArray whole = readAll(dir.filePath(QStringLiteral("bad.qrn")));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("bad.qrn")), whole.left(whole.size() / 2)));

    const Result result = run(dir.path(), {"--headless", "-decompress", "first.qrn", "bad.qrn", "last.qrn"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(lines(result.err), QStringList{QStringLiteral("Unable to open \"bad.qrn\" (Corrupted data).")});
    QVERIFY(readStl(dir.filePath(QStringLiteral("first.stl"))));
    QVERIFY(readStl(dir.filePath(QStringLiteral("last.stl"))));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("bad.stl"))));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestQuarn::damagedGzipIsCorrupted_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("bytes behind the gzip data") << "trailing";
    QTest::newRow("a byte behind the gzip data") << "byte";
    QTest::newRow("flipped check of a small file") << "check";
    QTest::newRow("flipped deflate byte of a small file") << "deflate";
}

// A compressed file whose gzip data is damaged, or followed by bytes that are no whole member,
// fails as corrupted data and leaves the old output as it was.
void TestQuarn::damagedGzipIsCorrupted()
{
    QFETCH(QString, damage);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("part.qrn"));
    QVERIFY(writeQrn(path, meshtest::unitCube()));
    QByteArray bytes = readAll(path);
    if (damage == QLatin1String("trailing"))
        bytes += QByteArray("\0\0\0\0garbage", 11);
    else if (damage == QLatin1String("byte"))
        bytes += '\n';
    else if (damage == QLatin1String("check"))
        bytes[bytes.size() - 8] = char(bytes[bytes.size() - 8] ^ 0x10);
    else
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
    QVERIFY(writeAll(path, bytes));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("part.stl")), "old"));

    const Result result = run(dir.path(), {"--headless", "-decompress", "part.qrn"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err), QStringList{QStringLiteral("Unable to open \"part.qrn\" (Corrupted data).")});
    QCOMPARE(readAll(dir.filePath(QStringLiteral("part.stl"))), QByteArray("old"));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestQuarn::damagedAsciiKeepsOutput_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("facets"); // -1: the file fails
    const QByteArray cube = stltest::asciiStl(meshtest::unitCube(), "cube");
    // Where the eleventh of the twelve facets begins.
    int eleventhFacet = 0;
    for (int i = 0; i < 10; ++i)
        eleventhFacet = cube.indexOf("endfacet", eleventhFacet) + 8;
    eleventhFacet = cube.indexOf("facet normal", eleventhFacet);
    QTest::newRow("cut inside a vertex line") << cube.left(cube.indexOf("vertex", eleventhFacet) + 8) << -1;
    QTest::newRow("cut inside endloop") << cube.left(cube.indexOf("endloop", eleventhFacet) + 3) << -1;
    QTest::newRow("cut inside facet normal") << cube.left(eleventhFacet + 7) << -1;
    QTest::newRow("misspelt vertex") << QByteArray(cube).replace(cube.indexOf("vertex", eleventhFacet), 6,
                                                                 "vertx ")
                                     << -1;
    QTest::newRow("cut after whole facets") << cube.left(eleventhFacet) << 10;
}

// An ASCII file that is damaged inside a facet fails and leaves the old output as it was; one
// that ends after whole facets without its end line is compressed.
void TestQuarn::damagedAsciiKeepsOutput()
{
    QFETCH(QByteArray, text);
    QFETCH(int, facets);
    QTemporaryDir dir;
    QVERIFY(writeAll(dir.filePath(QStringLiteral("part.stl")), text));
    QVERIFY(writeQrn(dir.filePath(QStringLiteral("part.qrn")), meshtest::tetrahedron()));
    const QByteArray old = readAll(dir.filePath(QStringLiteral("part.qrn")));

    const Result result = run(dir.path(), {"--headless", "-compress", "part.stl"});
    QVERIFY(result.finished);
    if (facets < 0) {
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(lines(result.err),
                 QStringList{QStringLiteral("Unable to open \"part.stl\" (Incorrect format).")});
        QCOMPARE(readAll(dir.filePath(QStringLiteral("part.qrn"))), old);
    } else {
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QByteArray());
        const auto mesh = readQrn(dir.filePath(QStringLiteral("part.qrn")));
        QVERIFY(mesh);
        QCOMPARE(mesh->indices().size(), facets);
    }
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

// Inputs that are no readable regular file are refused at once, each with its own reason; a pipe
// is never opened (that would wait for a writer) and a device never read.
void TestQuarn::refusedInputsAreTold()
{
    QTemporaryDir dir;
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.stl"))).constData(), 0600), 0);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.stl")));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir.filePath(QStringLiteral("null.stl"))));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("zero.qrn"))));
    QVERIFY(makeUnreadable(dir.filePath(QStringLiteral("locked.stl"))));
    QVERIFY(QFile::link(QStringLiteral("loop.stl"), dir.filePath(QStringLiteral("loop.stl"))));
    QVERIFY(QFile::link(QStringLiteral("nowhere.stl"), dir.filePath(QStringLiteral("dangling.stl"))));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("plain")), "a file, not a folder"));
    const QStringList before = folderFiles(dir.path());

    const Result result = run(dir.path(), {"--headless", "-compress", "pipe.stl", "folder.stl", "null.stl",
                                           "locked.stl", "missing.stl", "dangling.stl", "loop.stl",
                                           "plain/part.stl", "-decompress", "zero.qrn"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    const QString notRegular = QStringLiteral("Not a regular file (a pipe, socket or device)");
    // A missing file is one whose name leads nowhere; other names that lead to no file get the
    // system's reason.
    QCOMPARE(lines(result.err), (QStringList{
                                    "Unable to open \"pipe.stl\" (" + notRegular + ").",
                                    "Unable to open \"folder.stl\" (It is a folder).",
                                    "Unable to open \"null.stl\" (" + notRegular + ").",
                                    "Unable to open \"locked.stl\" (Permission denied).",
                                    "Unable to open \"missing.stl\" (File does not exist).",
                                    "Unable to open \"dangling.stl\" (File does not exist).",
                                    "Unable to open \"loop.stl\" (Too many levels of symbolic links).",
                                    "Unable to open \"plain/part.stl\" (Not a directory).",
                                    "Unable to open \"zero.qrn\" (" + notRegular + ").",
                                }));
    QCOMPARE(folderFiles(dir.path()), before);
}

// A shell passes a pattern that matched nothing as it is; a file that bears such a name is
// still that file.
void TestQuarn::namesWithPatternCharacters()
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("star*.stl")), meshtest::unitCube()));
    QVERIFY(writeStl(dir.filePath(QStringLiteral("what?.stl")), meshtest::tetrahedron()));

    const Result result = run(dir.path(), {"--headless", "-compress", "star*.stl", "what?.stl", "*.stl"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err),
             QStringList{QStringLiteral("Skipped \"*.stl\": a pattern that matched no file")});
    QVERIFY(readQrn(dir.filePath(QStringLiteral("star*.qrn"))));
    QVERIFY(readQrn(dir.filePath(QStringLiteral("what?.qrn"))));
}

void TestQuarn::readOnlyFolderKeepsOutput()
{
    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QVERIFY(writeStl(locked + QStringLiteral("/a.stl"), meshtest::unitCube()));
    QVERIFY(writeAll(locked + QStringLiteral("/a.qrn"), "old"));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                              QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    struct Unlock
    {
        QString path;
        ~Unlock() { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
    } unlock{locked};

    // The superuser writes through permission bits; without its capability to override them
    // it is held to them like everyone else.
    QStringList wrapper;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv: a read-only folder cannot be made");
        wrapper = QStringList{setpriv, QStringLiteral("--bounding-set=-dac_override,-dac_read_search")};
        QProcess probe;
        probe.start(setpriv, {wrapper[1], QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                              QStringLiteral("touch \"$0\"/probe"), locked});
        if (!probe.waitForFinished(30000) || probe.exitCode() == 0)
            QSKIP("running as root and the override of permission bits cannot be dropped here");
    }

    const Result result = run(dir.path(), {"--headless", "-compress", "locked/a.stl"}, wrapper);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    const QStringList errors = lines(result.err);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(
        errors.first().startsWith(QStringLiteral("Unable to write \"") + locked + QStringLiteral("/a.qrn\"")),
        qPrintable(errors.first()));
    QCOMPARE(readAll(locked + QStringLiteral("/a.qrn")), QByteArray("old"));
    QCOMPARE(folderFiles(locked), (QStringList{QStringLiteral("a.qrn"), QStringLiteral("a.stl")}));
}

void TestQuarn::readOnlyOutputRefused_data()
{
    addConversionRows();
}

// An output its owner made read-only, in a folder that may be written, is not replaced: the
// rename would go through, so the mode is the only guard.
void TestQuarn::readOnlyOutputRefused()
{
    QFETCH(QString, option);
    QFETCH(QString, source);
    QFETCH(QString, output);
    QTemporaryDir dir;
    const QVector<geom::Facet> facets = meshtest::unitCube();
    QVERIFY(writeSource(dir.filePath(source), facets));
    const QString locked = dir.filePath(output);
    QVERIFY(writeAll(locked, "old"));
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(locked, readOnly));
    const QStringList before = folderFiles(dir.path());

    const Result result = run(dir.path(), {"--headless", option, source});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err), QStringList{QStringLiteral("Unable to write \"%1\" (Permission denied).")
                                                .arg(QFileInfo(locked).absoluteFilePath())});
    QCOMPARE(readAll(locked), QByteArray("old"));
    const QFile::Permissions ownerGroupOther(0x7077);
    QCOMPARE(QFile::permissions(locked) & ownerGroupOther, readOnly);
    QCOMPARE(folderFiles(dir.path()), before);
}

void TestQuarn::unreplaceableOutputsRefused_data()
{
    // The option, the source, what stands under the output's name and the reason given.
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    const QString notRegular = QStringLiteral("Not a regular file (a pipe, socket or device)");
    const QString toSource = QStringLiteral("It is a link to the source file");
    QTest::newRow("compress, link to the source") << "-compress"
                                                  << "a.stl"
                                                  << "link to the source" << toSource;
    QTest::newRow("decompress, link to the source") << "-decompress"
                                                    << "a.qrn"
                                                    << "link to the source" << toSource;
    QTest::newRow("pipe") << "-compress"
                          << "a.stl"
                          << "pipe" << notRegular;
    QTest::newRow("link to a pipe") << "-compress"
                                    << "a.stl"
                                    << "link to a pipe" << notRegular;
    QTest::newRow("folder") << "-decompress"
                            << "a.qrn"
                            << "folder"
                            << "It is a folder";
}

// An output name under which a written file would destroy something else is refused before
// anything is written: a link to the source (which would get the other format's data under its
// own name), a pipe or device (which the rename would replace with a file) or a folder.
void TestQuarn::unreplaceableOutputsRefused()
{
    QFETCH(QString, option);
    QFETCH(QString, source);
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(writeSource(dir.filePath(source), meshtest::unitCube()));
    const QByteArray sourceBytes = readAll(dir.filePath(source));
    const QString output =
        source.endsWith(QLatin1String(".stl")) ? QStringLiteral("a.qrn") : QStringLiteral("a.stl");
    const QString outputPath = QFileInfo(dir.filePath(output)).absoluteFilePath();
    if (kind == QLatin1String("link to the source")) {
        QVERIFY(QFile::link(source, outputPath));
    } else if (kind == QLatin1String("pipe")) {
        QCOMPARE(::mkfifo(QFile::encodeName(outputPath).constData(), 0600), 0);
    } else if (kind == QLatin1String("link to a pipe")) {
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("pipe"), outputPath));
    } else {
        QVERIFY(QDir(dir.path()).mkdir(output));
    }
    const QStringList before = folderFiles(dir.path());

    const Result result = run(dir.path(), {"--headless", option, source});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err),
             QStringList{QStringLiteral("Unable to write \"%1\" (%2).").arg(outputPath, reason)});
    QCOMPARE(readAll(dir.filePath(source)), sourceBytes);
    QCOMPARE(folderFiles(dir.path()), before);
    if (kind == QLatin1String("pipe"))
        QVERIFY(!QFileInfo(outputPath).isFile() && QFileInfo::exists(outputPath));
}

void TestQuarn::fullDiskKeepsOutput_data()
{
    addConversionRows();
}

// A disk that fills up during the write: the system's reason is given, the old output stays and
// no temporary file is left.
void TestQuarn::fullDiskKeepsOutput()
{
    QFETCH(QString, option);
    QFETCH(QString, source);
    QFETCH(QString, output);
    QTemporaryDir dir;
    const QString original = dir.filePath(source);
    const QVector<geom::Facet> facets = meshtest::Torus(20000).facets();
    QVERIFY(writeSource(original, facets));
    // The source and the old output fit with three pages to spare; the new output, a tenth of
    // the STL file or ten times the compressed one, does not.
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    const qint64 sourcePages = (QFileInfo(original).size() + page - 1) / page;
    const QString disk = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("disk")));
    mounttest::SmallFileSystem fileSystem(disk, (sourcePages + 4) * page);
    if (!fileSystem.isMounted())
        QSKIP(mounttest::NoMountSkip);
    QVERIFY(QFile::copy(original, disk + QLatin1Char('/') + source));
    QVERIFY(writeAll(disk + QLatin1Char('/') + output, "old"));
    const QStringList before = folderFiles(disk);

    const Result result = run(disk, {"--headless", option, source});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(lines(result.err),
             QStringList{
                 QStringLiteral("Unable to write \"%1/%2\" (No space left on device).").arg(disk, output)});
    QCOMPARE(readAll(disk + QLatin1Char('/') + output), QByteArray("old"));
    QCOMPARE(folderFiles(disk), before);
}

// An output name that is a symbolic link: the file it leads to gets the new data, the link stays.
void TestQuarn::linkedOutputWrittenThrough()
{
    QTemporaryDir dir;
    QVERIFY(writeStl(dir.filePath(QStringLiteral("a.stl")), meshtest::Torus(2000).facets()));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("store")));
    const QString stored = dir.filePath(QStringLiteral("store/kept.qrn"));
    QVERIFY(writeAll(stored, "old"));
    const QByteArray link = QFile::encodeName(dir.filePath(QStringLiteral("a.qrn")));
    QCOMPARE(::symlink("store/kept.qrn", link.constData()), 0);

    const Result result = run(dir.path(), {"--headless", "-compress", "a.stl"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    char target[64] = {};
    QCOMPARE(::readlink(link.constData(), target, sizeof target - 1), ssize_t(14));
    QCOMPARE(QByteArray(target), QByteArray("store/kept.qrn"));
    const auto source = readStl(dir.filePath(QStringLiteral("a.stl")));
    QCOMPARE(compareMeshes(readQrn(stored).get(), source.get()), QString());
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
    QVERIFY(temporaryFiles(dir.filePath(QStringLiteral("store"))).isEmpty());
}

void TestQuarn::refusedThreadFails_data()
{
    addConversionRows();
}

// When the system refuses every new thread, the batch cannot start: the program says so and ends
// with 1 instead of waiting forever, and the folder is left as it was.
void TestQuarn::refusedThreadFails()
{
    QFETCH(QString, option);
    QFETCH(QString, source);
    QFETCH(QString, output);
    QTemporaryDir dir;
    const QVector<geom::Facet> facets = meshtest::Torus(20000).facets();
    QVERIFY(writeSource(dir.filePath(source), facets));
    const QByteArray before = readAll(dir.filePath(source));
    const QStringList files = folderFiles(dir.path());

    const Result result = run(dir.path(), {"--headless", option, source}, threadtest::threadlessShell());
    QVERIFY2(result.finished, "the program did not end");
    const QStringList errors = lines(result.err);
    if (result.exitCode == 0 && errors.isEmpty())
        QSKIP("this system starts threads under the limit");
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!errors.isEmpty());
    QCOMPARE(errors.last(), QStringLiteral("The batch could not start: the system refused a new thread "
                                           "(too little memory or too many threads). No file was changed."));
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(readAll(dir.filePath(source)), before);
    QCOMPARE(folderFiles(dir.path()), files);
    QVERIFY(!QFileInfo::exists(dir.filePath(output)));
}

void TestQuarn::sampleModel()
{
    QTemporaryDir dir;
    QProcess generator;
    generator.setWorkingDirectory(dir.path());
    generator.start(QStringLiteral(QUARN_PYTHON3),
                    {QStringLiteral(QUARN_SAMPLE_SCRIPT), "sample.stl", "2000"});
    QVERIFY(generator.waitForFinished(60000));
    QCOMPARE(generator.exitCode(), 0);
    const auto sample = readStl(dir.filePath(QStringLiteral("sample.stl")));
    QVERIFY(sample);
    QUARN_CHECK_MESH(*sample);
    QVERIFY(sample->indices().size() >= 1900);

    const Result result = run(dir.path(), {"--headless", "-compress", "sample.stl"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    const auto compressed = readQrn(dir.filePath(QStringLiteral("sample.qrn")));
    QCOMPARE(compareMeshes(compressed.get(), sample.get()), QString());
}

void TestQuarn::exportsOnlyDriverHints()
{
    const QString nm = QStandardPaths::findExecutable(QStringLiteral("nm"));
    if (nm.isEmpty())
        QSKIP("nm is not installed");
    QProcess process;
    process.start(nm,
                  {QStringLiteral("-D"), QStringLiteral("--defined-only"), QStringLiteral(QUARN_EXECUTABLE)});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    // The linker's own section markers are in every executable's table.
    const QStringList linkerMarkers{"__bss_start", "_edata", "_end"};
    QStringList exported;
    for (const QString &line : lines(process.readAllStandardOutput())) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() == 3 && !linkerMarkers.contains(fields[2]))
            exported << fields[1] + QLatin1Char(' ') + fields[2];
    }
    exported.sort();
    QCOMPARE(exported, (QStringList{"D AmdPowerXpressRequestHighPerformance", "D NvOptimusEnablement"}));
}

int main(int argc, char *argv[])
{
    // Before any thread: the full disks of the tests are mounted where only this process and the
    // programs it starts see them.
    mounttest::enterPrivateMounts();
    QCoreApplication app(argc, argv);
    TestQuarn test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_quarn.moc"
