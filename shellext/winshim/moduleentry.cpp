#include "shellext/winshim/winshim.h"

#include <cstdio>

#include <QString>

// The module's entry point, which Windows' loader calls.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

namespace {

// Any address inside the module serves as its handle.
const char moduleAnchor = 0;

// The dynamic loader of Linux knows no entry point of the Windows kind: this object calls it when
// the library is loaded and before it is unloaded (or the process ends).
class ModuleEntry
{
public:
    ModuleEntry()
        : m_attached(DllMain(handle(), DLL_PROCESS_ATTACH, nullptr) != FALSE)
    {
        if (!m_attached)
            std::fprintf(stderr, "quarnext: the module could not attach; it stays inert\n");
    }
    ~ModuleEntry()
    {
        if (m_attached)
            DllMain(handle(), DLL_PROCESS_DETACH, nullptr);
    }

private:
    static HINSTANCE handle() { return reinterpret_cast<HINSTANCE>(const_cast<char *>(&moduleAnchor)); }

    bool m_attached;
};

const ModuleEntry moduleEntry;

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
