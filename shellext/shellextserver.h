#pragma once

#include "shellext/platform.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QMutex>
#include <QPointer>
#include <QString>

#include <new>

// Module-wide state of the extension: one set per process that loads the library.
struct ShellExtModule
{
    // Full path of the library's own file; set when the process attaches.
    QString modulePath;
    // The product word, the %1 of every menu and help text; set when the process attaches.
    QString productName;
    // Held while a factory tests for the application object and creates it.
    QMutex applicationMutex;
    // Picture beside both menu entries; made together with the application object, else null.
    HBITMAP menuBitmap = nullptr;
    // Live factory and handler objects; the library may be unloaded when this is 0.
    QAtomicInt serverObjectCount;
    // The application object that this library made (null when the host had its own).
    QPointer<QCoreApplication> ownApplication;
};

// The module's state, built on first use, so that the entry point may run before the other
// static objects of the library.
ShellExtModule &shellExtModule();

// A text in memory of its own, for texts that the toolkit keeps in its long-lived stores (the
// application's identity, the settings cache): those outlive the library, so they must not point
// into its constant data, which goes when the library is unloaded.
inline QString ownedText(const char *latin1)
{
    return QString::fromLatin1(latin1);
}

// Runs the body of an export or an interface operation so that no exception leaves the library:
// running out of memory answers E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <typename Operation>
HRESULT guardedCall(Operation operation) noexcept
{
    try {
        return operation();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Exports of the in-process server.

// Process attach reads the module's file name (false when it cannot, and the library does not
// load); process detach destroys the application object and the menu picture when this library
// made them. Thread notifications are switched off.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
// Makes a class factory of the extension's class and asks it for riid: CLASS_E_CLASSNOTAVAILABLE
// for another class, E_NOINTERFACE for an interface other than IUnknown and IClassFactory (the
// factory is deleted again); *ppv is null on every failure.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
// S_OK when no factory or handler object lives, else S_FALSE.
STDAPI DllCanUnloadNow(void);
// Writes the class, its in-process server and threading model, the context-menu handler of all
// files and the approval into the machine-wide registry; SELFREG_E_CLASS when the registry
// cannot be written (nothing is written then) or a write did not reach it.
STDAPI DllRegisterServer(void);
// Removes what registration writes (also when it was never written); failures as registration.
STDAPI DllUnregisterServer(void);
