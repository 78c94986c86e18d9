#include "shellext/quarnextclsid.h"
#include "shellextfakes.h"

#include <sys/mman.h>

#include <QtTest>

#include <cstring>

// The extension's library in a process that has its own application object (as a test host),
// loaded from a copy in a folder deeper than 260 characters beside a fake "quarn" that records
// the arguments it was started with.

namespace {

const QString classIdText = QStringLiteral("{21DCDEDF-8C12-44B2-B9C4-1D078D1B2B48}");

QString hresultText(HRESULT result)
{
    return QStringLiteral("0x%1").arg(static_cast<quint32>(result), 8, 16, QLatin1Char('0'));
}

// Memory at an address whose low 32 bits are 0: a verb string placed at its first bytes has a
// pointer value that looks like the verb 0 or 1 to a test of the low 32 bits only. Null when no
// such address is free.
char *mapAtLowWordZero()
{
    const std::uintptr_t step = std::uintptr_t(1) << 36;
    for (std::uintptr_t hint = std::uintptr_t(1) << 40; hint < (std::uintptr_t(1) << 46); hint += step) {
        void *page = mmap(reinterpret_cast<void *>(hint), 4096, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (page == reinterpret_cast<void *>(hint))
            return static_cast<char *>(page);
        if (page != MAP_FAILED)
            munmap(page, 4096);
    }
    return nullptr;
}

const QStringList hostMenu = {QStringLiteral("Open"), QStringLiteral("Cut"), QStringLiteral("Copy")};
constexpr UINT menuIndex = 1;
constexpr UINT firstCommand = 100;
constexpr UINT lastCommand = 0x7FFF;

QString pathOfLength(int length)
{
    const QString head = QStringLiteral("/models/");
    const QString tail = QStringLiteral(".stl");
    return head + QString(length - head.size() - tail.size(), QLatin1Char('p')) + tail;
}

} // namespace

class TestShellExt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void classObjectOfOtherClass();
    void factoryInterfaces_data();
    void factoryInterfaces();
    void handlerInterfaces_data();
    void handlerInterfaces();
    void aggregationRefused();
    void unloadFollowsLiveObjects();
    void hostApplicationKept();

    void initialize_data();
    void initialize();
    void initializeTwiceKeepsBoth();
    void contextMenu_data();
    void contextMenu();
    void commandString_data();
    void commandString();
    void invokeCommand_data();
    void invokeCommand();
    void invokeWithoutProgram();

    void registration();
    void registrationUnwritable_data();
    void registrationUnwritable();

private:
    // A new handler's context-menu face; null on failure.
    void createHandler(ComRef<IContextMenu> &handler);
    // A new handler initialised with the names.
    void createHandler(ComRef<IContextMenu> &handler, const QStringList &names);
    // Waits for the fake program to record its arguments and gives them.
    void waitForArguments(QStringList &arguments);
    void writeFakeProgram();

    QTemporaryDir m_dir;
    QString m_installDir;
    ServerLibrary m_library;
    char *m_lowWordPage = nullptr;
};

void TestShellExt::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Deeper than one path buffer of 260 units, so the library's own path must be read whole.
    m_installDir = m_dir.path() + QLatin1Char('/') + QString(150, QLatin1Char('i')) + QLatin1Char('/') +
                   QString(150, QLatin1Char('n'));
    QVERIFY(QDir().mkpath(m_installDir));
    QVERIFY(m_installDir.size() > 300);
    const QString library = m_installDir + QStringLiteral("/libquarnext.so");
    QVERIFY(QFile::copy(QStringLiteral(QUARNEXT_LIBRARY), library));
    writeFakeProgram();
    QVERIFY2(m_library.load(library), qPrintable(m_library.errorString()));
    m_lowWordPage = mapAtLowWordZero();
}

void TestShellExt::cleanup()
{
    // Every object a test made has been released, and the library knows it.
    QCOMPARE(hresultText(m_library.canUnloadNow()), hresultText(S_OK));
    QFile::remove(m_installDir + QStringLiteral("/arguments"));
}

void TestShellExt::writeFakeProgram()
{
    QFile program(m_installDir + QStringLiteral("/quarn"));
    QVERIFY(program.open(QIODevice::WriteOnly));
    // Each argument ends with a zero byte; the record appears at once when it is complete.
    program.write("#!/bin/sh\n"
                  "out=\"$(dirname \"$0\")/arguments\"\n"
                  "for argument in \"$@\"; do printf '%s\\0' \"$argument\"; done > \"$out.part\"\n"
                  "mv \"$out.part\" \"$out\"\n");
    program.close();
    QVERIFY(program.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void TestShellExt::waitForArguments(QStringList &arguments)
{
    const QString record = m_installDir + QStringLiteral("/arguments");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 20000);
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    QVERIFY(bytes.endsWith('\0'));
    bytes.chop(1);
    arguments.clear();
    for (const QByteArray &argument : bytes.split('\0'))
        arguments << QString::fromUtf8(argument);
}

void TestShellExt::createHandler(ComRef<IContextMenu> &handler)
{
    ComRef<IClassFactory> factory;
    QCOMPARE(hresultText(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, factory.out())),
             hresultText(S_OK));
    QCOMPARE(hresultText(factory->CreateInstance(nullptr, IID_IContextMenu, handler.out())),
             hresultText(S_OK));
}

void TestShellExt::createHandler(ComRef<IContextMenu> &handler, const QStringList &names)
{
    createHandler(handler);
    QVERIFY(handler);
    ComRef<IShellExtInit> init;
    QCOMPARE(hresultText(handler->QueryInterface(IID_IShellExtInit, init.out())), hresultText(S_OK));
    FakeDataObject data(names);
    QCOMPARE(hresultText(init->Initialize(nullptr, &data, nullptr)), hresultText(S_OK));
}

void TestShellExt::classObjectOfOtherClass()
{
    const CLSID other = {0x21DCDEDF, 0x8C12, 0x44B2, {0xB9, 0xC4, 0x1D, 0x07, 0x8D, 0x1B, 0x2B, 0x49}};
    void *object = reinterpret_cast<void *>(0x1);
    QCOMPARE(hresultText(m_library.getClassObject(other, IID_IClassFactory, &object)),
             hresultText(CLASS_E_CLASSNOTAVAILABLE));
    QCOMPARE(object, nullptr);
    QCOMPARE(hresultText(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, nullptr)),
             hresultText(E_POINTER));
}

void TestShellExt::factoryInterfaces_data()
{
    QTest::addColumn<QByteArray>("interface");
    QTest::addColumn<int>("expected");
    QTest::newRow("IUnknown") << QByteArray("IUnknown") << S_OK;
    QTest::newRow("IClassFactory") << QByteArray("IClassFactory") << S_OK;
    QTest::newRow("IContextMenu") << QByteArray("IContextMenu") << E_NOINTERFACE;
    QTest::newRow("IShellExtInit") << QByteArray("IShellExtInit") << E_NOINTERFACE;
}

static const IID &interfaceNamed(const QByteArray &name)
{
    if (name == "IClassFactory")
        return IID_IClassFactory;
    if (name == "IContextMenu")
        return IID_IContextMenu;
    if (name == "IShellExtInit")
        return IID_IShellExtInit;
    return IID_IUnknown;
}

void TestShellExt::factoryInterfaces()
{
    QFETCH(QByteArray, interface);
    QFETCH(int, expected);

    void *object = reinterpret_cast<void *>(0x1);
    const HRESULT result =
        m_library.getClassObject(CLSID_QuarnContextMenu, interfaceNamed(interface), &object);
    QCOMPARE(hresultText(result), hresultText(expected));
    if (FAILED(result)) {
        QCOMPARE(object, nullptr);
        // The refused factory is gone again (checked by cleanup).
        return;
    }
    auto *factory = static_cast<IClassFactory *>(object);
    // Created with one reference, the caller's.
    QCOMPARE(factory->AddRef(), ULONG(2));
    QCOMPARE(factory->Release(), ULONG(1));

    ComRef<IUnknown> unknown;
    QCOMPARE(hresultText(factory->QueryInterface(IID_IUnknown, unknown.out())), hresultText(S_OK));
    QCOMPARE(static_cast<void *>(unknown.get()), object);
    ComRef<IUnknown> menu;
    QCOMPARE(hresultText(factory->QueryInterface(IID_IContextMenu, menu.out())), hresultText(E_NOINTERFACE));
    QVERIFY(!menu);
    QCOMPARE(hresultText(factory->QueryInterface(IID_IUnknown, nullptr)), hresultText(E_POINTER));
    unknown.reset();

    // Each request makes a factory of its own.
    ComRef<IClassFactory> second;
    QCOMPARE(hresultText(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, second.out())),
             hresultText(S_OK));
    QVERIFY(static_cast<void *>(second.get()) != object);
    QCOMPARE(factory->Release(), ULONG(0));
}

void TestShellExt::handlerInterfaces_data()
{
    QTest::addColumn<QByteArray>("interface");
    QTest::addColumn<int>("expected");
    QTest::newRow("IUnknown") << QByteArray("IUnknown") << S_OK;
    QTest::newRow("IShellExtInit") << QByteArray("IShellExtInit") << S_OK;
    QTest::newRow("IContextMenu") << QByteArray("IContextMenu") << S_OK;
    QTest::newRow("IClassFactory") << QByteArray("IClassFactory") << E_NOINTERFACE;
}

void TestShellExt::handlerInterfaces()
{
    QFETCH(QByteArray, interface);
    QFETCH(int, expected);

    ComRef<IClassFactory> factory;
    QCOMPARE(hresultText(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, factory.out())),
             hresultText(S_OK));
    void *object = reinterpret_cast<void *>(0x1);
    const HRESULT result = factory->CreateInstance(nullptr, interfaceNamed(interface), &object);
    QCOMPARE(hresultText(result), hresultText(expected));
    if (FAILED(result)) {
        QCOMPARE(object, nullptr);
        return;
    }
    auto *unknown = static_cast<IUnknown *>(object);
    // Every face leads to the same object: IUnknown is always the same pointer.
    ComRef<IUnknown> identity;
    ComRef<IContextMenu> menu;
    ComRef<IShellExtInit> init;
    QCOMPARE(hresultText(unknown->QueryInterface(IID_IUnknown, identity.out())), hresultText(S_OK));
    QCOMPARE(hresultText(unknown->QueryInterface(IID_IContextMenu, menu.out())), hresultText(S_OK));
    QCOMPARE(hresultText(menu->QueryInterface(IID_IShellExtInit, init.out())), hresultText(S_OK));
    ComRef<IUnknown> again;
    QCOMPARE(hresultText(init->QueryInterface(IID_IUnknown, again.out())), hresultText(S_OK));
    QCOMPARE(again.get(), identity.get());
    QCOMPARE(static_cast<void *>(identity.get()), static_cast<void *>(init.get()));
    ComRef<IUnknown> factoryFace;
    QCOMPARE(hresultText(menu->QueryInterface(IID_IClassFactory, factoryFace.out())),
             hresultText(E_NOINTERFACE));
    QCOMPARE(hresultText(menu->QueryInterface(IID_IUnknown, nullptr)), hresultText(E_POINTER));
    // The caller's reference and the four held here.
    QCOMPARE(unknown->Release(), ULONG(4));
}

void TestShellExt::aggregationRefused()
{
    ComRef<IClassFactory> factory;
    QCOMPARE(hresultText(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, factory.out())),
             hresultText(S_OK));
    MediumOwner outer;
    void *object = reinterpret_cast<void *>(0x1);
    QCOMPARE(hresultText(factory->CreateInstance(&outer, IID_IUnknown, &object)),
             hresultText(CLASS_E_NOAGGREGATION));
    QCOMPARE(object, nullptr);
}

void TestShellExt::unloadFollowsLiveObjects()
{
    QCOMPARE(hresultText(m_library.canUnloadNow()), hresultText(S_OK));
    ComRef<IClassFactory> factory;
    QCOMPARE(hresultText(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, factory.out())),
             hresultText(S_OK));
    QCOMPARE(hresultText(m_library.canUnloadNow()), hresultText(S_FALSE));
    ComRef<IContextMenu> handler;
    QCOMPARE(hresultText(factory->CreateInstance(nullptr, IID_IContextMenu, handler.out())),
             hresultText(S_OK));
    QCOMPARE(hresultText(factory->LockServer(TRUE)), hresultText(S_OK));
    factory.reset();
    // The handler alone keeps the library.
    QCOMPARE(hresultText(m_library.canUnloadNow()), hresultText(S_FALSE));
    handler.reset();
    // A lock alone does not.
    QCOMPARE(hresultText(m_library.canUnloadNow()), hresultText(S_OK));
}

void TestShellExt::hostApplicationKept()
{
    QCoreApplication *host = QCoreApplication::instance();
    const QString name = QCoreApplication::applicationName();
    const QString organization = QCoreApplication::organizationName();
    ComRef<IContextMenu> handler;
    createHandler(handler, {QStringLiteral("/models/a.stl"), QStringLiteral("/models/b.qrn")});
    QVERIFY(handler);
    QCOMPARE(QCoreApplication::instance(), host);
    QCOMPARE(QCoreApplication::applicationName(), name);
    QCOMPARE(QCoreApplication::organizationName(), organization);

    // Without an application object of its own the library has no menu picture.
    RecordingMenu menu;
    QCOMPARE(hresultText(handler->QueryContextMenu(&menu, 0, firstCommand, lastCommand, 0)),
             hresultText(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2)));
    QCOMPARE(menu.items.size(), 2);
    for (const RecordingMenu::Item &item : qAsConst(menu.items)) {
        QVERIFY(item.bitmapsSet);
        QCOMPARE(item.unchecked, nullptr);
        QCOMPARE(item.checked, nullptr);
    }
}

void TestShellExt::initialize_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QStringList>("selection");

    const QStringList several = {QStringLiteral("/models/b.stl"), QStringLiteral("/models/a.qrn"),
                                 QStringLiteral("/models/with space.STL")};
    QTest::newRow("one file") << QStringList{"/models/a.stl"} << int(FakeDataObject::DropList) << S_OK
                              << QStringList{"/models/a.stl"};
    QTest::newRow("several, in order") << several << int(FakeDataObject::DropList) << S_OK << several;
    QTest::newRow("a path of 300 characters is kept whole")
        << QStringList{pathOfLength(300)} << int(FakeDataObject::DropList) << S_OK
        << QStringList{pathOfLength(300)};
    QTest::newRow("empty drop") << QStringList() << int(FakeDataObject::DropList) << S_OK << QStringList();
    QTest::newRow("no file drop") << several << int(FakeDataObject::NoFileDrop) << E_INVALIDARG
                                  << QStringList();
    QTest::newRow("memory that cannot be locked")
        << several << int(FakeDataObject::UnlockableMemory) << E_INVALIDARG << QStringList();
}

void TestShellExt::initialize()
{
    QFETCH(QStringList, names);
    QFETCH(int, answer);
    QFETCH(int, expected);
    QFETCH(QStringList, selection);

    ComRef<IContextMenu> handler;
    createHandler(handler);
    QVERIFY(handler);
    ComRef<IShellExtInit> init;
    QCOMPARE(hresultText(handler->QueryInterface(IID_IShellExtInit, init.out())), hresultText(S_OK));
    FakeDataObject data(names, FakeDataObject::Answer(answer));
    QCOMPARE(hresultText(init->Initialize(nullptr, &data, nullptr)), hresultText(expected));

    QCOMPARE(data.askedFormat.cfFormat, CLIPFORMAT(15));
    QCOMPARE(data.askedFormat.ptd, nullptr);
    QCOMPARE(data.askedFormat.dwAspect, DWORD(1));
    QCOMPARE(data.askedFormat.lindex, LONG(-1));
    QCOMPARE(data.askedFormat.tymed, DWORD(1));
    // Every medium handed over is released, whatever the road out.
    QCOMPARE(data.owner.releases, data.dataGiven);

    // The selection shows in the command line of the started program.
    CMINVOKECOMMANDINFO invoke = {};
    invoke.cbSize = sizeof invoke;
    invoke.lpVerb = reinterpret_cast<LPCSTR>(std::uintptr_t(0));
    QCOMPARE(hresultText(handler->InvokeCommand(&invoke)), hresultText(S_OK));
    QStringList arguments;
    waitForArguments(arguments);
    QCOMPARE(arguments, QStringList{"-compress"} + selection);
}

void TestShellExt::initializeTwiceKeepsBoth()
{
    ComRef<IContextMenu> handler;
    createHandler(handler, {QStringLiteral("/models/a.stl")});
    QVERIFY(handler);
    ComRef<IShellExtInit> init;
    QCOMPARE(hresultText(handler->QueryInterface(IID_IShellExtInit, init.out())), hresultText(S_OK));
    FakeDataObject data({QStringLiteral("/models/b.qrn")});
    QCOMPARE(hresultText(init->Initialize(nullptr, &data, nullptr)), hresultText(S_OK));
    QCOMPARE(hresultText(init->Initialize(nullptr, nullptr, nullptr)), hresultText(E_INVALIDARG));

    CMINVOKECOMMANDINFO invoke = {};
    invoke.lpVerb = reinterpret_cast<LPCSTR>(std::uintptr_t(1));
    QCOMPARE(hresultText(handler->InvokeCommand(&invoke)), hresultText(S_OK));
    QStringList arguments;
    waitForArguments(arguments);
    QCOMPARE(arguments, (QStringList{"-decompress", "/models/a.stl", "/models/b.qrn"}));
}

void TestShellExt::contextMenu_data()
{
    QTest::addColumn<QStringList>("selection");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QStringList>("layout");

    const QString compress = QStringLiteral("Compress with Quarn#100");
    const QString decompress = QStringLiteral("Decompress with Quarn#101");
    const QStringList host = {"Open#1", "Cut#2", "Copy#3"};
    QTest::newRow("STL only") << QStringList{"/m/a.stl"} << 0u << 1
                              << QStringList{"Open#1", compress, "Cut#2", "Copy#3"};
    QTest::newRow("STL in capitals") << QStringList{"/m/A.STL", "/m/b.txt"} << 0u << 1
                                     << QStringList{"Open#1", compress, "Cut#2", "Copy#3"};
    QTest::newRow("qrn only, one place lower") << QStringList{"/m/a.qrn", "/m/b.QRN"} << 0u << 2
                                               << QStringList{"Open#1", "Cut#2", decompress, "Copy#3"};
    QTest::newRow("STL and qrn") << QStringList{"/m/a.qrn", "/m/b.stl"} << 0u << 2
                                 << QStringList{"Open#1", compress, decompress, "Cut#2", "Copy#3"};
    QTest::newRow("neither suffix") << QStringList{"/m/a.stl.bak", "/m/b.txt", "/m/stl", "/m/qrn"} << 0u << 0
                                    << host;
    QTest::newRow("empty selection") << QStringList() << 0u << 0 << host;
    QTest::newRow("default only") << QStringList{"/m/a.stl", "/m/b.qrn"} << CMF_DEFAULTONLY << 0 << host;
}

void TestShellExt::contextMenu()
{
    QFETCH(QStringList, selection);
    QFETCH(uint, flags);
    QFETCH(int, expected);
    QFETCH(QStringList, layout);

    ComRef<IContextMenu> handler;
    createHandler(handler, selection);
    QVERIFY(handler);
    RecordingMenu menu(hostMenu);
    QCOMPARE(hresultText(handler->QueryContextMenu(&menu, menuIndex, firstCommand, lastCommand, flags)),
             hresultText(expected));
    QCOMPARE(menu.layout(), layout);
    for (const RecordingMenu::Item &item : qAsConst(menu.items)) {
        if (item.id < firstCommand)
            continue;
        QCOMPARE(item.flags, MF_BYPOSITION | MF_STRING);
        QVERIFY(item.bitmapsSet);
    }
}

void TestShellExt::commandString_data()
{
    QTest::addColumn<qulonglong>("command");
    QTest::addColumn<uint>("kind");
    QTest::addColumn<uint>("size");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("text"); // null: the buffer is left alone

    const QString compressHelp = QStringLiteral("Compress supported files with Quarn");
    const QString decompressHelp = QStringLiteral("Decompress supported files with Quarn");
    QTest::newRow("help, 8-bit") << 0ull << GCS_HELPTEXTA << 64u << S_OK << compressHelp;
    QTest::newRow("help, UTF-16") << 1ull << GCS_HELPTEXTW << 64u << S_OK << decompressHelp;
    QTest::newRow("help, 8-bit, cut to the buffer") << 0ull << GCS_HELPTEXTA << 9u << S_OK << "Compress";
    QTest::newRow("help, UTF-16, cut to the buffer") << 1ull << GCS_HELPTEXTW << 11u << S_OK << "Decompress";
    QTest::newRow("help, room for the terminator only") << 0ull << GCS_HELPTEXTW << 1u << S_OK << "";
    QTest::newRow("help, no room") << 0ull << GCS_HELPTEXTA << 0u << S_OK << QString();
    QTest::newRow("help of offset 2") << 2ull << GCS_HELPTEXTA << 64u << E_INVALIDARG << QString();
    QTest::newRow("help of offset 2, UTF-16") << 2ull << GCS_HELPTEXTW << 64u << E_INVALIDARG << QString();
    QTest::newRow("validate compress") << 0ull << GCS_VALIDATEA << 64u << S_OK << QString();
    QTest::newRow("validate decompress, UTF-16") << 1ull << GCS_VALIDATEW << 64u << S_OK << QString();
    QTest::newRow("validate offset 2") << 2ull << GCS_VALIDATEW << 64u << S_FALSE << QString();
    QTest::newRow("verb, 8-bit") << 0ull << GCS_VERBA << 64u << E_NOTIMPL << QString();
    QTest::newRow("verb, UTF-16") << 1ull << GCS_VERBW << 64u << E_NOTIMPL << QString();
    QTest::newRow("kind 3") << 0ull << 3u << 64u << E_NOTIMPL << QString();
    QTest::newRow("kind 7") << 0ull << 7u << 64u << E_NOTIMPL << QString();
}

void TestShellExt::commandString()
{
    QFETCH(qulonglong, command);
    QFETCH(uint, kind);
    QFETCH(uint, size);
    QFETCH(int, expected);
    QFETCH(QString, text);

    ComRef<IContextMenu> handler;
    createHandler(handler, {QStringLiteral("/m/a.stl")});
    QVERIFY(handler);
    constexpr char untouched = 0x7F;
    char buffer[256];
    std::memset(buffer, untouched, sizeof buffer);
    QCOMPARE(hresultText(handler->GetCommandString(UINT_PTR(command), kind, nullptr, buffer, size)),
             hresultText(expected));

    const bool wide = kind & GCS_UNICODE;
    const int unit = wide ? 2 : 1;
    int written = 0;
    if (!text.isNull()) {
        QString got;
        if (wide)
            got = QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer));
        else
            got = QString::fromLocal8Bit(buffer);
        QCOMPARE(got, text);
        written = (text.size() + 1) * unit;
        QVERIFY(written <= int(size) * unit);
    }
    for (int i = written; i < int(sizeof buffer); ++i)
        QVERIFY2(buffer[i] == untouched, qPrintable(QStringLiteral("byte %1 written").arg(i)));
}

void TestShellExt::invokeCommand_data()
{
    QTest::addColumn<QByteArray>("verbKind");
    QTest::addColumn<int>("verb");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("command"); // null: nothing is started

    QTest::newRow("compress") << QByteArray("number") << 0 << S_OK << "-compress";
    QTest::newRow("decompress") << QByteArray("number") << 1 << S_OK << "-decompress";
    QTest::newRow("offset 2") << QByteArray("number") << 2 << E_INVALIDARG << QString();
    QTest::newRow("offset 0xFFFF") << QByteArray("number") << 0xFFFF << E_INVALIDARG << QString();
    QTest::newRow("verb string") << QByteArray("string") << 0 << E_INVALIDARG << QString();
    QTest::newRow("verb string at an address ending in 0x00000000")
        << QByteArray("low-word string") << 0 << E_INVALIDARG << QString();
    QTest::newRow("verb string at an address ending in 0x00000001")
        << QByteArray("low-word string") << 1 << E_INVALIDARG << QString();
    QTest::newRow("no invocation record") << QByteArray("none") << 0 << E_INVALIDARG << QString();
}

void TestShellExt::invokeCommand()
{
    QFETCH(QByteArray, verbKind);
    QFETCH(int, verb);
    QFETCH(int, expected);
    QFETCH(QString, command);

    // The whole selection goes to the program, also files the command does not take.
    const QStringList selection = {QStringLiteral("/models/part.stl"), QStringLiteral("/models/Part two.QRN"),
                                   QStringLiteral("/models/notes.txt"), pathOfLength(300)};
    ComRef<IContextMenu> handler;
    createHandler(handler, selection);
    QVERIFY(handler);

    CMINVOKECOMMANDINFO invoke = {};
    invoke.cbSize = sizeof invoke;
    static const char openVerb[] = "open";
    if (verbKind == "number") {
        invoke.lpVerb = reinterpret_cast<LPCSTR>(std::uintptr_t(verb));
    } else if (verbKind == "string") {
        invoke.lpVerb = openVerb;
    } else if (verbKind == "low-word string") {
        if (!m_lowWordPage)
            QSKIP("no free address with 32 low zero bits");
        std::memcpy(m_lowWordPage + verb, openVerb, sizeof openVerb);
        invoke.lpVerb = m_lowWordPage + verb;
    }
    const HRESULT result = handler->InvokeCommand(verbKind == "none" ? nullptr : &invoke);
    QCOMPARE(hresultText(result), hresultText(expected));
    if (command.isNull()) {
        QVERIFY(!QFile::exists(m_installDir + QStringLiteral("/arguments")));
        return;
    }
    QStringList arguments;
    waitForArguments(arguments);
    QCOMPARE(arguments, QStringList{command} + selection);
    QVERIFY(!arguments.contains(QStringLiteral("--headless")));
}

void TestShellExt::invokeWithoutProgram()
{
    ComRef<IContextMenu> handler;
    createHandler(handler, {QStringLiteral("/models/part.stl")});
    QVERIFY(handler);
    const QString program = m_installDir + QStringLiteral("/quarn");
    QVERIFY(QFile::remove(program));
    CMINVOKECOMMANDINFO invoke = {};
    invoke.lpVerb = reinterpret_cast<LPCSTR>(std::uintptr_t(0));
    const HRESULT result = handler->InvokeCommand(&invoke);
    writeFakeProgram();
    QCOMPARE(hresultText(result), hresultText(E_FAIL));
}

void TestShellExt::registration()
{
    const QString file = m_dir.path() + QStringLiteral("/registry.ini");
    const QString classKey = QStringLiteral("Classes/CLSID/") + classIdText;
    const QString approved = QStringLiteral("Microsoft/Windows/CurrentVersion/Shell Extensions/Approved/");
    {
        // Entries of other programs, which must survive.
        QSettings registry(file, QSettings::IniFormat);
        registry.setValue(QStringLiteral("Classes/CLSID/{00000000-1111-2222-3333-444444444444}/."),
                          QStringLiteral("Other"));
        registry.setValue(QStringLiteral("Classes/*/ShellEx/ContextMenuHandlers/Other/."),
                          QStringLiteral("{00000000-1111-2222-3333-444444444444}"));
        registry.setValue(approved + QStringLiteral("{00000000-1111-2222-3333-444444444444}"),
                          QStringLiteral("Other"));
    }
    const QStringList otherKeys = QSettings(file, QSettings::IniFormat).allKeys();
    m_library.setRegistryFile(QFile::encodeName(file).constData());

    QCOMPARE(hresultText(m_library.registerServer()), hresultText(S_OK));
    QStringList keys;
    {
        QSettings registry(file, QSettings::IniFormat);
        QCOMPARE(registry.value(classKey + QStringLiteral("/.")).toString(),
                 QStringLiteral("Quarn Context Menu Extension"));
        QCOMPARE(registry.value(classKey + QStringLiteral("/InProcServer32/.")).toString(),
                 m_installDir + QStringLiteral("/libquarnext.so"));
        QCOMPARE(registry.value(classKey + QStringLiteral("/InProcServer32/ThreadingModel")).toString(),
                 QStringLiteral("Apartment"));
        QCOMPARE(registry.value(QStringLiteral("Classes/*/ShellEx/ContextMenuHandlers/Quarn/.")).toString(),
                 classIdText);
        QCOMPARE(registry.value(approved + classIdText).toString(),
                 QStringLiteral("Quarn Context Menu Extension"));
        keys = registry.allKeys();
        QCOMPARE(keys.size(), otherKeys.size() + 5);
    }

    QCOMPARE(hresultText(m_library.registerServer()), hresultText(S_OK));
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys(), keys);

    QCOMPARE(hresultText(m_library.unregisterServer()), hresultText(S_OK));
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys(), otherKeys);
    QCOMPARE(hresultText(m_library.unregisterServer()), hresultText(S_OK));
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys(), otherKeys);
}

void TestShellExt::registrationUnwritable_data()
{
    QTest::addColumn<bool>("registering");
    QTest::newRow("register") << true;
    QTest::newRow("unregister") << false;
}

void TestShellExt::registrationUnwritable()
{
    QFETCH(bool, registering);
    // A plain file where the registry's folder should be: no one can write there.
    const QString blocker = m_dir.path() + QStringLiteral("/not-a-folder");
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString registryFile = blocker + QStringLiteral("/registry.ini");
    m_library.setRegistryFile(QFile::encodeName(registryFile).constData());
    const HRESULT result = registering ? m_library.registerServer() : m_library.unregisterServer();
    QCOMPARE(hresultText(result), hresultText(SELFREG_E_CLASS));
    QVERIFY(!QFileInfo::exists(registryFile));
    QCOMPARE(QFileInfo(blocker).size(), qint64(0));
}

QTEST_GUILESS_MAIN(TestShellExt)
#include "tst_shellext.moc"
