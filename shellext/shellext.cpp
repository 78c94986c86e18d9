#include "shellext/shellext.h"

#include "shellext/shellextserver.h"

#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QScopeGuard>

#include <climits>
#include <cstdint>
#include <vector>

namespace {

#ifdef _WIN32
const QString programFileName = QStringLiteral("quarn.exe");
#else
const QString programFileName = QStringLiteral("quarn");
#endif

// Verbs given as numbers fit in 16 bits; a larger pointer value is a verb string.
constexpr std::uintptr_t largestNumericVerb = 0xFFFF;

// The dropped-file count is asked for with this index.
constexpr UINT dropFileCountIndex = 0xFFFFFFFF;

// The texts of the menu entries and their help, built once per module.
struct MenuTexts
{
    QString compress;
    QString decompress;
    QString compressHelp;
    QString decompressHelp;
};

const MenuTexts &menuTexts()
{
    static const MenuTexts texts = [] {
        const QString &product = shellExtModule().productName;
        return MenuTexts{QObject::tr("Compress with %1").arg(product),
                         QObject::tr("Decompress with %1").arg(product),
                         QObject::tr("Compress supported files with %1").arg(product),
                         QObject::tr("Decompress supported files with %1").arg(product)};
    }();
    return texts;
}

const QString *helpText(UINT_PTR command)
{
    switch (command) {
    case CShellExt::CompressCommand:
        return &menuTexts().compressHelp;
    case CShellExt::DecompressCommand:
        return &menuTexts().decompressHelp;
    default:
        return nullptr;
    }
}

// The name of one dropped file, read whole whatever its length; empty when it cannot be read.
QString dropFileName(HDROP drop, UINT index)
{
    const UINT length = DragQueryFileW(drop, index, nullptr, 0);
    if (length == 0 || length == UINT_MAX)
        return QString();
    std::vector<WCHAR> buffer(std::size_t(length) + 1);
    const UINT read = DragQueryFileW(drop, index, buffer.data(), length + 1);
    if (read == 0)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const ushort *>(buffer.data()), static_cast<int>(read));
}

void insertEntry(HMENU menu, UINT position, UINT id, const QString &text)
{
    InsertMenuW(menu, position, MF_STRING | MF_BYPOSITION, id, reinterpret_cast<LPCWSTR>(text.utf16()));
    const HBITMAP bitmap = shellExtModule().menuBitmap;
    SetMenuItemBitmaps(menu, id, MF_BYCOMMAND, bitmap, bitmap);
}

} // namespace

CShellExt::CShellExt()
    : m_refCount(0)
{
    shellExtModule().serverObjectCount.ref();
}

CShellExt::~CShellExt()
{
    shellExtModule().serverObjectCount.deref();
}

HRESULT STDMETHODCALLTYPE CShellExt::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellExtInit))
        *ppv = static_cast<IShellExtInit *>(this);
    else if (IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CShellExt::AddRef()
{
    return static_cast<ULONG>(m_refCount.fetchAndAddOrdered(1) + 1);
}

ULONG STDMETHODCALLTYPE CShellExt::Release()
{
    const int count = m_refCount.fetchAndAddOrdered(-1) - 1;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject *pdtobj, HKEY)
{
    return guardedCall([&]() -> HRESULT {
        if (!pdtobj)
            return E_INVALIDARG;
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        if (FAILED(pdtobj->GetData(&format, &medium)))
            return E_INVALIDARG;
        const auto release = qScopeGuard([&medium] { ReleaseStgMedium(&medium); });
        void *locked = GlobalLock(medium.hGlobal);
        if (!locked)
            return E_INVALIDARG;
        const auto unlock = qScopeGuard([&medium] { GlobalUnlock(medium.hGlobal); });

        const auto drop = static_cast<HDROP>(locked);
        const UINT count = DragQueryFileW(drop, dropFileCountIndex, nullptr, 0);
        HRESULT result = S_OK;
        for (UINT index = 0; index < count; ++index) {
            const QString name = dropFileName(drop, index);
            if (name.isEmpty())
                result = E_INVALIDARG;
            else
                m_selectedFiles.append(name);
        }
        return result;
    });
}

HRESULT STDMETHODCALLTYPE CShellExt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT,
                                                      UINT uFlags)
{
    return guardedCall([&]() -> HRESULT {
        if (uFlags & CMF_DEFAULTONLY)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        bool compress = false;
        bool decompress = false;
        for (const QString &file : qAsConst(m_selectedFiles)) {
            if (file.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive))
                compress = true;
            else if (file.endsWith(QLatin1String(".qrn"), Qt::CaseInsensitive))
                decompress = true;
        }
        UINT commandCount = 0;
        if (compress) {
            insertEntry(hmenu, indexMenu, idCmdFirst + CompressCommand, menuTexts().compress);
            commandCount = CompressCommand + 1;
        }
        if (decompress) {
            // The decompress entry keeps its place below the compress entry even when that one
            // is missing.
            insertEntry(hmenu, indexMenu + 1, idCmdFirst + DecompressCommand, menuTexts().decompress);
            commandCount = DecompressCommand + 1;
        }
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, commandCount);
    });
}

HRESULT STDMETHODCALLTYPE CShellExt::InvokeCommand(CMINVOKECOMMANDINFO *pici)
{
    return guardedCall([&]() -> HRESULT {
        if (!pici)
            return E_INVALIDARG;
        // The whole pointer is tested: a verb string may lie at any address whose low 16 bits
        // look like a command offset.
        const auto verb = reinterpret_cast<std::uintptr_t>(pici->lpVerb);
        if (verb > largestNumericVerb)
            return E_INVALIDARG;
        QStringList arguments;
        if (verb == CompressCommand)
            arguments << QStringLiteral("-compress");
        else if (verb == DecompressCommand)
            arguments << QStringLiteral("-decompress");
        else
            return E_INVALIDARG;
        arguments += m_selectedFiles;
        // The program is installed beside the library.
        const QString program =
            QFileInfo(shellExtModule().modulePath).path() + QLatin1Char('/') + programFileName;
        return QProcess::startDetached(program, arguments) ? S_OK : E_FAIL;
    });
}

HRESULT STDMETHODCALLTYPE CShellExt::GetCommandString(UINT_PTR idCmd, UINT uType, UINT *, CHAR *pszName,
                                                      UINT cchMax)
{
    return guardedCall([&]() -> HRESULT {
        switch (uType) {
        case GCS_HELPTEXTA:
        case GCS_HELPTEXTW: {
            const QString *text = helpText(idCmd);
            if (!text || !pszName)
                return E_INVALIDARG;
            const int size = static_cast<int>(qMin<UINT>(cchMax, INT_MAX));
            if (uType & GCS_UNICODE)
                lstrcpynW(reinterpret_cast<LPWSTR>(pszName), reinterpret_cast<LPCWSTR>(text->utf16()), size);
            else
                lstrcpynA(pszName, text->toLocal8Bit().constData(), size);
            return S_OK;
        }
        case GCS_VALIDATEA:
        case GCS_VALIDATEW:
            return idCmd == CompressCommand || idCmd == DecompressCommand ? S_OK : S_FALSE;
        default:
            return E_NOTIMPL;
        }
    });
}
