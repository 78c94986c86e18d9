#pragma once

// A small stand-in for the Windows COM, shell, GDI and Win32 interfaces that the context-menu
// extension uses, so that the extension builds and runs on Linux and all of its own logic can be
// tested there. It holds only what the extension and its tests call. Types keep their Windows
// widths (HRESULT 32-bit signed, DWORD and UINT 32-bit unsigned, UINT_PTR as wide as a pointer)
// and WCHAR is a UTF-16 unit, so buffer sizes given in units mean the same as on Windows.
//
// Where Windows has a kernel object, the stand-in has a plain structure:
// - HMODULE is any address inside the module; the file name comes from the dynamic loader.
// - HGLOBAL is a heap block with a header; GlobalLock gives the bytes after the header.
// - HMENU is an object of the caller's own class derived from WinShimMenu, which receives the
//   menu calls, so a test can record them.
// - HBITMAP is a WinShimBitmap holding the converted image.
// - The machine-wide registry is an INI file (winshim_set_registry_file) and the system version
//   can be set (winshim_set_version); both setters are exported by the module that links this.

#include <cstddef>
#include <cstdint>

#include <QImage>
#include <QString>

class QPixmap;

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using UINT_PTR = std::uintptr_t;
using BOOL = int;
using CHAR = char;
using WCHAR = char16_t;
using LPSTR = CHAR *;
using LPCSTR = const CHAR *;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;
using LPOLESTR = WCHAR *;
using LPVOID = void *;
using HANDLE = void *;
using HGDIOBJ = void *;
using CLIPFORMAT = WORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI
#define STDMETHODCALLTYPE
// The exports of the extension are the only symbols its library shows.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT

// Handles without a structure of their own here.
struct HINSTANCE__;
struct HKEY__;
struct HWND__;
struct ITEMIDLIST;
struct DVTARGETDEVICE;
using HINSTANCE = HINSTANCE__ *;
using HMODULE = HINSTANCE;
using HKEY = HKEY__ *;
using HWND = HWND__ *;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST *;

struct WinShimGlobal;
struct WinShimDrop;
class WinShimMenu;
struct WinShimBitmap;
using HGLOBAL = WinShimGlobal *;
using HDROP = WinShimDrop *;
using HMENU = WinShimMenu *;
using HBITMAP = WinShimBitmap *;

// Results.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
constexpr int SEVERITY_SUCCESS = 0;
constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}
constexpr HRESULT MAKE_HRESULT(unsigned severity, unsigned facility, unsigned code)
{
    return static_cast<HRESULT>((severity << 31) | (facility << 16) | code);
}

// Entry point reasons.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

// Data transfer.
constexpr CLIPFORMAT CF_HDROP = 15;
constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD TYMED_HGLOBAL = 1;

// Menus.
constexpr UINT MF_STRING = 0x0;
constexpr UINT MF_BYCOMMAND = 0x0;
constexpr UINT MF_BYPOSITION = 0x400;
constexpr UINT CMF_DEFAULTONLY = 0x1;
constexpr UINT GCS_VERBA = 0x0;
constexpr UINT GCS_HELPTEXTA = 0x1;
constexpr UINT GCS_VALIDATEA = 0x2;
constexpr UINT GCS_VERBW = 0x4;
constexpr UINT GCS_HELPTEXTW = 0x5;
constexpr UINT GCS_VALIDATEW = 0x6;
constexpr UINT GCS_UNICODE = 0x4;

struct GUID
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

bool IsEqualGUID(const GUID &a, const GUID &b);
inline bool IsEqualIID(REFIID a, REFIID b)
{
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b)
{
    return IsEqualGUID(a, b);
}
inline bool operator==(const GUID &a, const GUID &b)
{
    return IsEqualGUID(a, b);
}
inline bool operator!=(const GUID &a, const GUID &b)
{
    return !IsEqualGUID(a, b);
}

extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;
extern const IID IID_IShellExtInit;
extern const IID IID_IContextMenu;

struct FORMATETC
{
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE *ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};

struct IUnknown;

struct STGMEDIUM
{
    DWORD tymed;
    HGLOBAL hGlobal;
    // When set, releasing the medium releases this object instead of freeing the memory.
    IUnknown *pUnkForRelease;
};

struct POINT
{
    LONG x;
    LONG y;
};

// Head of the file-drop data: the names follow at byte offset pFiles, each terminated, the list
// ended by an empty name; UTF-16 when fWide is set (the only form read here).
struct DROPFILES
{
    DWORD pFiles;
    POINT pt;
    BOOL fNC;
    BOOL fWide;
};

struct CMINVOKECOMMANDINFO
{
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    // A command offset in the low 16 bits of the pointer value, or a verb string.
    LPCSTR lpVerb;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    DWORD dwHotKey;
    HANDLE hIcon;
};

// The COM interfaces, as tables of virtual functions in Windows' slot order.
struct IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

// Only the data request of the data object.
struct IDataObject : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetData(FORMATETC *pformatetcIn, STGMEDIUM *pmedium) = 0;
};

struct IShellExtInit : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject *pdtobj,
                                                 HKEY hkeyProgID) = 0;
};

struct IContextMenu : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst,
                                                       UINT idCmdLast, UINT uFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO *pici) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT uType, UINT *pReserved,
                                                       CHAR *pszName, UINT cchMax) = 0;
};

// The receiver of the menu calls: a menu handle is a pointer to an object of this class.
class WinShimMenu
{
public:
    // Inserts a text item; answers FALSE when the item could not be inserted.
    virtual BOOL insertItem(UINT position, UINT flags, UINT_PTR id, const QString &text) = 0;
    // Sets the pictures of an item found by position (MF_BYPOSITION) or by identifier.
    virtual BOOL setItemBitmaps(UINT item, UINT flags, HBITMAP unchecked, HBITMAP checked) = 0;

protected:
    ~WinShimMenu() = default;
};

// A bitmap: the converted image and the alpha treatment asked for.
struct WinShimBitmap
{
    QImage image;
    int format = 0;
};

// Module.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
BOOL DisableThreadLibraryCalls(HMODULE hLibModule);
// The system version: major version in the low byte, minor in the next, build in the high word.
DWORD GetVersion();

// Memory.
constexpr UINT GMEM_MOVEABLE = 0x2;
HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes);
HGLOBAL GlobalFree(HGLOBAL hMem);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
LPVOID CoTaskMemAlloc(std::size_t cb);
void CoTaskMemFree(LPVOID pv);
void ReleaseStgMedium(STGMEDIUM *pmedium);

// Shell, menus and pictures.
UINT DragQueryFileW(HDROP hDrop, UINT iFile, LPWSTR lpszFile, UINT cch);
BOOL InsertMenuW(HMENU hMenu, UINT uPosition, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem);
BOOL SetMenuItemBitmaps(HMENU hMenu, UINT uPosition, UINT uFlags, HBITMAP hBitmapUnchecked,
                        HBITMAP hBitmapChecked);
BOOL DeleteObject(HGDIOBJ ho);
// The toolkit's conversion of a pixmap to a bitmap; hbitmapFormat 0 opaque, 1 premultiplied
// alpha, 2 plain alpha. A null pixmap gives a null bitmap.
HBITMAP qt_pixmapToWinHBITMAP(const QPixmap &p, int hbitmapFormat = 0);

// Strings.
LPWSTR lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz);

namespace winshim {
// The INI file that stands for the machine-wide registry.
QString machineRegistryFile();
void setMachineRegistryFile(const QString &path);
void setVersion(DWORD version);
} // namespace winshim
