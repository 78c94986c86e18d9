#include "shellext/shellextclassfactory.h"

#include "shellext/shellext.h"
#include "shellext/shellextserver.h"

#include <QGuiApplication>
#include <QMutexLocker>
#include <QPixmap>

#include <new>

namespace {

// The argument count of the application object that this library makes; the object keeps a
// reference to it for its whole life.
int applicationArgc = 0;

// The first Windows version whose menus show pictures with an alpha channel.
constexpr DWORD firstAlphaMenuVersion = 6;

// Makes the application object and the menu picture unless the process has an application object.
void createApplicationObject(ShellExtModule &module)
{
    QMutexLocker locker(&module.applicationMutex);
    if (QCoreApplication::instance())
        return;
    auto *application = new QGuiApplication(applicationArgc, nullptr);
    module.ownApplication = application;
    QCoreApplication::setOrganizationName(ownedText("Orvan"));
    QCoreApplication::setOrganizationDomain(ownedText("orvan.example"));
    QCoreApplication::setApplicationName(ownedText("Quarn Context Menu Extension"));
    QCoreApplication::setApplicationVersion(ownedText(QUARNEXT_VERSION));

    const DWORD majorVersion = GetVersion() & 0xFF;
    if (majorVersion >= firstAlphaMenuVersion)
        module.menuBitmap =
            qt_pixmapToWinHBITMAP(QPixmap(ownedText(":/resources/images/quarn.png")), HBitmapAlpha);
    else
        module.menuBitmap =
            qt_pixmapToWinHBITMAP(QPixmap(ownedText(":/resources/images/quarn_noalpha.png")), HBitmapNoAlpha);
}

} // namespace

CShellExtClassFactory::CShellExtClassFactory()
    : m_refCount(0)
{
    ShellExtModule &module = shellExtModule();
    createApplicationObject(module);
    module.serverObjectCount.ref();
}

CShellExtClassFactory::~CShellExtClassFactory()
{
    shellExtModule().serverObjectCount.deref();
}

HRESULT STDMETHODCALLTYPE CShellExtClassFactory::QueryInterface(REFIID riid, void **ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    *ppvObject = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CShellExtClassFactory::AddRef()
{
    return static_cast<ULONG>(m_refCount.fetchAndAddOrdered(1) + 1);
}

ULONG STDMETHODCALLTYPE CShellExtClassFactory::Release()
{
    const int count = m_refCount.fetchAndAddOrdered(-1) - 1;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CShellExtClassFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                                                void **ppvObject)
{
    return guardedCall([&]() -> HRESULT {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        auto *handler = new (std::nothrow) CShellExt;
        if (!handler)
            return E_OUTOFMEMORY;
        // Held across the query, so that a handler nobody took is deleted again.
        handler->AddRef();
        const HRESULT result = handler->QueryInterface(riid, ppvObject);
        handler->Release();
        return result;
    });
}

HRESULT STDMETHODCALLTYPE CShellExtClassFactory::LockServer(BOOL)
{
    return S_OK;
}
