#include "shellext/winshim/winshim.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPixmap>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellExtInit = {0x000214E8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IContextMenu = {0x000214E4, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool IsEqualGUID(const GUID &a, const GUID &b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

namespace {

// Windows 7, the default answer of GetVersion.
constexpr DWORD defaultVersion = (7601u << 16) | (1u << 8) | 6u;
std::atomic<DWORD> systemVersion{defaultVersion};

QMutex registryMutex;
QString registryFile;

// Copies a UTF-16 text into a buffer of the given size, cut to fit with a terminator; answers
// the count of units copied without the terminator.
std::size_t copyTerminated(WCHAR *buffer, std::size_t size, const QString &text)
{
    if (size == 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(text.size()), size - 1);
    std::memcpy(buffer, text.utf16(), count * sizeof(WCHAR));
    buffer[count] = 0;
    return count;
}

// The names of a file-drop block, or an empty list when the block is not one we can read.
QStringList dropNames(const DROPFILES *drop)
{
    QStringList names;
    if (!drop || !drop->fWide)
        return names;
    const auto *unit = reinterpret_cast<const WCHAR *>(reinterpret_cast<const char *>(drop) + drop->pFiles);
    while (*unit) {
        const WCHAR *start = unit;
        while (*unit)
            ++unit;
        names.append(QString::fromUtf16(start, static_cast<int>(unit - start)));
        ++unit;
    }
    return names;
}

// The lstrcpyn of either character width: at most maxLength - 1 units of source and a
// terminating zero; null for a missing string or no room at all.
template <typename Char>
Char *copyBounded(Char *destination, const Char *source, int maxLength)
{
    if (!destination || !source || maxLength <= 0)
        return nullptr;
    int i = 0;
    for (; i < maxLength - 1 && source[i]; ++i)
        destination[i] = source[i];
    destination[i] = 0;
    return destination;
}

} // namespace

// The block behind a global-memory handle: the header, then the caller's bytes.
struct WinShimGlobal
{
    std::size_t size;
    int lockCount;
    alignas(std::max_align_t) unsigned char data[1];
};

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    Dl_info info{};
    if (!hModule || !lpFilename || !dladdr(reinterpret_cast<const void *>(hModule), &info) || !info.dli_fname)
        return 0;
    const QString path = QFileInfo(QFile::decodeName(info.dli_fname)).absoluteFilePath();
    if (path.isEmpty())
        return 0;
    const std::size_t copied = copyTerminated(lpFilename, nSize, path);
    // A cut name answers the full buffer size, as Windows does.
    return copied < static_cast<std::size_t>(path.size()) ? nSize : static_cast<DWORD>(copied);
}

BOOL DisableThreadLibraryCalls(HMODULE)
{
    return TRUE;
}

DWORD GetVersion()
{
    return systemVersion.load();
}

HGLOBAL GlobalAlloc(UINT, std::size_t dwBytes)
{
    void *block = std::calloc(1, offsetof(WinShimGlobal, data) + std::max<std::size_t>(dwBytes, 1));
    if (!block)
        return nullptr;
    auto *global = static_cast<WinShimGlobal *>(block);
    global->size = dwBytes;
    return global;
}

HGLOBAL GlobalFree(HGLOBAL hMem)
{
    std::free(hMem);
    return nullptr;
}

LPVOID GlobalLock(HGLOBAL hMem)
{
    if (!hMem)
        return nullptr;
    ++hMem->lockCount;
    return hMem->data;
}

BOOL GlobalUnlock(HGLOBAL hMem)
{
    if (!hMem || hMem->lockCount == 0)
        return FALSE;
    return --hMem->lockCount > 0 ? TRUE : FALSE;
}

LPVOID CoTaskMemAlloc(std::size_t cb)
{
    return std::malloc(cb);
}

void CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}

void ReleaseStgMedium(STGMEDIUM *pmedium)
{
    if (!pmedium)
        return;
    if (pmedium->pUnkForRelease)
        pmedium->pUnkForRelease->Release();
    else if (pmedium->tymed == TYMED_HGLOBAL)
        GlobalFree(pmedium->hGlobal);
    pmedium->tymed = 0;
    pmedium->hGlobal = nullptr;
    pmedium->pUnkForRelease = nullptr;
}

UINT DragQueryFileW(HDROP hDrop, UINT iFile, LPWSTR lpszFile, UINT cch)
{
    const QStringList names = dropNames(reinterpret_cast<const DROPFILES *>(hDrop));
    if (iFile == 0xFFFFFFFFu)
        return static_cast<UINT>(names.size());
    if (iFile >= static_cast<UINT>(names.size()))
        return 0;
    const QString &name = names.at(static_cast<int>(iFile));
    if (!lpszFile)
        return static_cast<UINT>(name.size());
    return static_cast<UINT>(copyTerminated(lpszFile, cch, name));
}

BOOL InsertMenuW(HMENU hMenu, UINT uPosition, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem)
{
    if (!hMenu)
        return FALSE;
    return hMenu->insertItem(uPosition, uFlags, uIDNewItem,
                             lpNewItem ? QString::fromUtf16(lpNewItem) : QString());
}

BOOL SetMenuItemBitmaps(HMENU hMenu, UINT uPosition, UINT uFlags, HBITMAP hBitmapUnchecked,
                        HBITMAP hBitmapChecked)
{
    if (!hMenu)
        return FALSE;
    return hMenu->setItemBitmaps(uPosition, uFlags, hBitmapUnchecked, hBitmapChecked);
}

BOOL DeleteObject(HGDIOBJ ho)
{
    if (!ho)
        return FALSE;
    delete static_cast<WinShimBitmap *>(ho);
    return TRUE;
}

HBITMAP qt_pixmapToWinHBITMAP(const QPixmap &p, int hbitmapFormat)
{
    if (p.isNull())
        return nullptr;
    auto *bitmap = new (std::nothrow) WinShimBitmap;
    if (!bitmap)
        return nullptr;
    QImage::Format format = QImage::Format_ARGB32;
    if (hbitmapFormat == 0)
        format = QImage::Format_RGB32;
    else if (hbitmapFormat == 1)
        format = QImage::Format_ARGB32_Premultiplied;
    bitmap->image = p.toImage().convertToFormat(format);
    bitmap->format = hbitmapFormat;
    return bitmap;
}

LPWSTR lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength)
{
    return copyBounded(lpString1, lpString2, iMaxLength);
}

LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    return copyBounded(lpString1, lpString2, iMaxLength);
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz)
{
    if (!lplpsz)
        return E_INVALIDARG;
    *lplpsz = nullptr;
    QString text = QString::asprintf("{%08X-%04X-%04X-", rclsid.Data1, rclsid.Data2, rclsid.Data3);
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            text += QLatin1Char('-');
        text += QString::asprintf("%02X", rclsid.Data4[i]);
    }
    text += QLatin1Char('}');
    const std::size_t units = static_cast<std::size_t>(text.size()) + 1;
    auto *buffer = static_cast<LPOLESTR>(CoTaskMemAlloc(units * sizeof(WCHAR)));
    if (!buffer)
        return E_OUTOFMEMORY;
    copyTerminated(buffer, units, text);
    *lplpsz = buffer;
    return S_OK;
}

namespace winshim {

QString machineRegistryFile()
{
    QMutexLocker lock(&registryMutex);
    if (registryFile.isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/quarnext/machine-registry.ini");
    return registryFile;
}

void setMachineRegistryFile(const QString &path)
{
    QMutexLocker lock(&registryMutex);
    registryFile = path;
}

void setVersion(DWORD version)
{
    systemVersion.store(version);
}

} // namespace winshim
