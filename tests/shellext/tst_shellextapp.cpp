#include "shellext/quarnextclsid.h"
#include "shellextfakes.h"

#include <QGuiApplication>
#include <QtTest>

#include <cstring>

// The extension's library in a process without an application object, as in the file explorer:
// the first class factory makes the application object and the menu picture for the system
// version given with "--windows-major N" (the stand-in's own answer, major 6, without it), and
// unloading the library destroys both.

namespace {

constexpr DWORD defaultMajorVersion = 6;

} // namespace

class TestShellExtApplication : public QObject
{
    Q_OBJECT

public:
    explicit TestShellExtApplication(DWORD majorVersion, bool versionGiven)
        : m_majorVersion(majorVersion)
        , m_versionGiven(versionGiven)
    {}

private slots:
    void initTestCase();
    void factoryMakesApplicationObject();
    void menuPicture();
    void secondFactoryKeepsBoth();
    void unloadDestroysApplicationObject();

private:
    DWORD m_majorVersion;
    bool m_versionGiven;
    ServerLibrary m_library;
    ComRef<IClassFactory> m_factory;
    QPointer<QCoreApplication> m_application;
    HBITMAP m_bitmap = nullptr;
};

void TestShellExtApplication::initTestCase()
{
    QVERIFY(!QCoreApplication::instance());
    QVERIFY2(m_library.load(QStringLiteral(QUARNEXT_LIBRARY)), qPrintable(m_library.errorString()));
    if (m_versionGiven)
        m_library.setVersion(m_majorVersion);
    // Loading alone makes nothing.
    QVERIFY(!QCoreApplication::instance());
}

void TestShellExtApplication::factoryMakesApplicationObject()
{
    QCOMPARE(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IClassFactory, m_factory.out()), S_OK);
    m_application = QCoreApplication::instance();
    QVERIFY(m_application);
    QVERIFY(qobject_cast<QGuiApplication *>(m_application.data()));
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Orvan"));
    QCOMPARE(QCoreApplication::organizationDomain(), QStringLiteral("orvan.example"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Quarn Context Menu Extension"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.9"));
    QVERIFY(QCoreApplication::arguments().isEmpty());
}

void TestShellExtApplication::menuPicture()
{
    QVERIFY(m_factory);
    ComRef<IContextMenu> handler;
    QCOMPARE(m_factory->CreateInstance(nullptr, IID_IContextMenu, handler.out()), S_OK);
    ComRef<IShellExtInit> init;
    QCOMPARE(handler->QueryInterface(IID_IShellExtInit, init.out()), S_OK);
    FakeDataObject data({QStringLiteral("/models/a.stl"), QStringLiteral("/models/b.qrn")});
    QCOMPARE(init->Initialize(nullptr, &data, nullptr), S_OK);
    RecordingMenu menu;
    QCOMPARE(handler->QueryContextMenu(&menu, 0, 1, 100, 0), 2);
    QCOMPARE(menu.items.size(), 2);

    // Both entries show the one picture, checked or not.
    m_bitmap = menu.items.at(0).unchecked;
    QVERIFY(m_bitmap);
    for (const RecordingMenu::Item &item : qAsConst(menu.items)) {
        QCOMPARE(item.unchecked, m_bitmap);
        QCOMPARE(item.checked, m_bitmap);
    }

    const QImage &image = m_bitmap->image;
    if (m_majorVersion > 5) {
        // 16 by 16 with a plain alpha channel: the rounded corners are clear, the middle opaque.
        QCOMPARE(image.size(), QSize(16, 16));
        QCOMPARE(m_bitmap->format, 2);
        QCOMPARE(image.format(), QImage::Format_ARGB32);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(8, 8)), 255);
    } else {
        // 13 by 13 and opaque everywhere.
        QCOMPARE(image.size(), QSize(13, 13));
        QCOMPARE(m_bitmap->format, 0);
        QVERIFY(!image.hasAlphaChannel());
    }
    // Not a blank picture.
    QVERIFY(image.pixel(8, 8) != image.pixel(0, 0));
}

void TestShellExtApplication::secondFactoryKeepsBoth()
{
    ComRef<IClassFactory> second;
    QCOMPARE(m_library.getClassObject(CLSID_QuarnContextMenu, IID_IUnknown, second.out()), S_OK);
    QCOMPARE(QCoreApplication::instance(), m_application.data());
    ComRef<IContextMenu> handler;
    QCOMPARE(second->CreateInstance(nullptr, IID_IContextMenu, handler.out()), S_OK);
    ComRef<IShellExtInit> init;
    QCOMPARE(handler->QueryInterface(IID_IShellExtInit, init.out()), S_OK);
    FakeDataObject data({QStringLiteral("/models/a.stl")});
    QCOMPARE(init->Initialize(nullptr, &data, nullptr), S_OK);
    RecordingMenu menu;
    QCOMPARE(handler->QueryContextMenu(&menu, 0, 1, 100, 0), 1);
    QCOMPARE(menu.items.at(0).unchecked, m_bitmap);
}

void TestShellExtApplication::unloadDestroysApplicationObject()
{
    m_factory.reset();
    QCOMPARE(m_library.canUnloadNow(), S_OK);
    QVERIFY(m_application);
    m_library.unload();
    QVERIFY(!m_application);
    QVERIFY(!QCoreApplication::instance());
}

// No application object is made here: the library must make its own. "--exit-loaded" ends the
// process with the library still loaded (run it without the unloading test function), as a host
// that never unloads it: the library's application object must not break the process's end.
int main(int argc, char *argv[])
{
    DWORD majorVersion = defaultMajorVersion;
    bool versionGiven = false;
    bool exitLoaded = false;
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--windows-major") == 0 && i + 1 < argc) {
            majorVersion = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
            versionGiven = true;
        } else if (std::strcmp(argv[i], "--exit-loaded") == 0) {
            exitLoaded = true;
        } else {
            arguments.push_back(argv[i]);
        }
    }
    auto *test = new TestShellExtApplication(majorVersion, versionGiven);
    const int result = QTest::qExec(test, static_cast<int>(arguments.size()), arguments.data());
    if (exitLoaded)
        std::exit(result);
    delete test;
    return result;
}

#include "tst_shellextapp.moc"
