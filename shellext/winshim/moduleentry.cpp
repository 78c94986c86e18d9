#include "shellext/winshim/winshim.h"

#include <cstdio>

#include <QString>

// The module's entry point, which Windows' loader calls.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

namespace {

// Any address inside the module serves as its handle.
const char moduleAnchor = 0;

HINSTANCE moduleHandle()
{
    return reinterpret_cast<HINSTANCE>(const_cast<char *>(&moduleAnchor));
}

// Plain flags, set before any static object is built and never destroyed.
bool attached = false;
bool staticObjectsDestroyed = false;

// The dynamic loader of Linux knows no entry point of the Windows kind; the library's load and
// unload hooks call it. A dlclose runs the unload hook before the library's static objects are
// destroyed, whereas the end of the process destroys every static object first (and the
// toolkit's with them): so a destroyed marker object means that the process is ending, which the
// entry point learns as on Windows, through a non-null reserved argument.
struct StaticObjectsMarker
{
    ~StaticObjectsMarker() { staticObjectsDestroyed = true; }
};
const StaticObjectsMarker staticObjectsMarker;

__attribute__((constructor)) void loadModule()
{
    attached = DllMain(moduleHandle(), DLL_PROCESS_ATTACH, nullptr) != FALSE;
    if (!attached)
        std::fprintf(stderr, "quarnext: the module could not attach; it stays inert\n");
}

__attribute__((destructor)) void unloadModule()
{
    static int processEnding = 1;
    if (attached)
        DllMain(moduleHandle(), DLL_PROCESS_DETACH, staticObjectsDestroyed ? &processEnding : nullptr);
}

} // namespace

// Test controls of the stand-in layer, exported beside the module's own functions.

// Makes the INI file at the UTF-8 path stand for the machine-wide registry.
extern "C" __attribute__((visibility("default"))) void winshim_set_registry_file(const char *utf8Path)
{
    winshim::setMachineRegistryFile(QString::fromUtf8(utf8Path));
}

// Sets the answer of GetVersion (major version in the low byte).
extern "C" __attribute__((visibility("default"))) void winshim_set_version(DWORD version)
{
    winshim::setVersion(version);
}
