#include "shellext/shellextserver.h"

#include "shellext/quarnextclsid.h"
#include "shellext/shellextclassfactory.h"

#include <QScopeGuard>
#include <QSettings>

#include <memory>
#include <vector>

namespace {

// The module's file name is read in a growing buffer, so that a long installation path is kept
// whole; a path beyond this many units is refused.
constexpr DWORD initialPathUnits = 260;
constexpr DWORD maximumPathUnits = 32768;

const char extensionName[] = "Quarn Context Menu Extension";

// The full path of the module's file, or an empty text when it cannot be read.
QString readModulePath(HMODULE module)
{
    for (DWORD size = initialPathUnits; size <= maximumPathUnits; size *= 2) {
        std::vector<WCHAR> buffer(size);
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0)
            return QString();
        if (length < size)
            return QString::fromUtf16(reinterpret_cast<const ushort *>(buffer.data()),
                                      static_cast<int>(length));
    }
    return QString();
}

std::unique_ptr<QSettings> openMachineRegistry()
{
#ifdef _WIN32
    return std::make_unique<QSettings>(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"),
                                       QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(winshim::machineRegistryFile(), QSettings::IniFormat);
#endif
}

// The braced upper-case text form of the extension's class identifier.
HRESULT classIdText(QString &text)
{
    LPOLESTR buffer = nullptr;
    const HRESULT result = StringFromCLSID(CLSID_QuarnContextMenu, &buffer);
    if (FAILED(result))
        return result;
    const auto release = qScopeGuard([buffer] { CoTaskMemFree(buffer); });
    text = QString::fromUtf16(reinterpret_cast<const ushort *>(buffer));
    return S_OK;
}

// The registry keys of the extension, relative to the machine's software root; a final "."
// names the default value of the key before it.
QString classKey(const QString &classId)
{
    return QStringLiteral("/Classes/CLSID/") + classId;
}

const QString handlerKey = QStringLiteral("/Classes/*/ShellEx/ContextMenuHandlers/Quarn");

QString approvalKey(const QString &classId)
{
    return QStringLiteral("/Microsoft/Windows/CurrentVersion/Shell Extensions/Approved/") + classId;
}

// Opens the registry for registration or its undoing and runs change on it; the single changes
// are checked together when they have been written out.
template <typename Change>
HRESULT changeRegistry(Change change)
{
    return guardedCall([&]() -> HRESULT {
        const std::unique_ptr<QSettings> registry = openMachineRegistry();
        if (!registry->isWritable())
            return SELFREG_E_CLASS;
        QString classId;
        const HRESULT converted = classIdText(classId);
        if (FAILED(converted))
            return converted;
        change(*registry, classId);
        registry->sync();
        return registry->status() == QSettings::NoError ? S_OK : SELFREG_E_CLASS;
    });
}

} // namespace

ShellExtModule &shellExtModule()
{
    static ShellExtModule module;
    return module;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    try {
        if (fdwReason == DLL_PROCESS_ATTACH) {
            ShellExtModule &module = shellExtModule();
            DisableThreadLibraryCalls(hinstDLL);
            module.modulePath = readModulePath(hinstDLL);
            if (module.modulePath.isEmpty())
                return FALSE;
            module.productName = QStringLiteral("Quarn");
        } else if (fdwReason == DLL_PROCESS_DETACH) {
            // A non-null reserved argument means that the process is ending: the system takes
            // everything back, and the toolkit's own state may already be gone, so destroying the
            // application object then would touch freed memory.
            if (lpvReserved)
                return TRUE;
            ShellExtModule &module = shellExtModule();
            if (module.ownApplication) {
                DeleteObject(module.menuBitmap);
                module.menuBitmap = nullptr;
                delete module.ownApplication.data();
            }
        }
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    return guardedCall([&]() -> HRESULT {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualCLSID(rclsid, CLSID_QuarnContextMenu))
            return CLASS_E_CLASSNOTAVAILABLE;
        auto *factory = new (std::nothrow) CShellExtClassFactory;
        if (!factory)
            return E_OUTOFMEMORY;
        // Held across the query, so that a factory nobody took is deleted again.
        factory->AddRef();
        const HRESULT result = factory->QueryInterface(riid, ppv);
        factory->Release();
        return result;
    });
}

STDAPI DllCanUnloadNow(void)
{
    return shellExtModule().serverObjectCount.loadAcquire() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer(void)
{
    return changeRegistry([](QSettings &registry, const QString &classId) {
        registry.setValue(classKey(classId) + QStringLiteral("/."), ownedText(extensionName));
        registry.setValue(classKey(classId) + QStringLiteral("/InProcServer32/."),
                          shellExtModule().modulePath);
        registry.setValue(classKey(classId) + QStringLiteral("/InProcServer32/ThreadingModel"),
                          ownedText("Apartment"));
        registry.setValue(handlerKey + QStringLiteral("/."), classId);
        registry.setValue(approvalKey(classId), ownedText(extensionName));
    });
}

STDAPI DllUnregisterServer(void)
{
    return changeRegistry([](QSettings &registry, const QString &classId) {
        registry.remove(classKey(classId));
        registry.remove(handlerKey);
        registry.remove(approvalKey(classId));
    });
}
