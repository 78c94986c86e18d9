#include "shellextfakes.h"

#include <dlfcn.h>

#include <QFile>

#include <cstring>

ServerLibrary::~ServerLibrary()
{
    unload();
}

bool ServerLibrary::load(const QString &path)
{
    m_handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        m_error = QString::fromLocal8Bit(dlerror());
        return false;
    }
    bool complete = true;
    auto resolve = [&](auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(m_handle, name));
        if (!function) {
            m_error += QStringLiteral("missing export %1; ").arg(QLatin1String(name));
            complete = false;
        }
    };
    resolve(getClassObject, "DllGetClassObject");
    resolve(canUnloadNow, "DllCanUnloadNow");
    resolve(registerServer, "DllRegisterServer");
    resolve(unregisterServer, "DllUnregisterServer");
    resolve(setRegistryFile, "winshim_set_registry_file");
    resolve(setVersion, "winshim_set_version");
    return complete;
}

void ServerLibrary::unload()
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
}

HRESULT STDMETHODCALLTYPE MediumOwner::QueryInterface(REFIID riid, void **ppvObject)
{
    *ppvObject = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    return *ppvObject ? S_OK : E_NOINTERFACE;
}

HGLOBAL makeDropBlock(const QStringList &names)
{
    std::u16string list;
    for (const QString &name : names) {
        list.append(reinterpret_cast<const char16_t *>(name.utf16()), static_cast<std::size_t>(name.size()));
        list.push_back(u'\0');
    }
    list.push_back(u'\0');
    const std::size_t listBytes = list.size() * sizeof(char16_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + listBytes);
    auto *bytes = static_cast<char *>(GlobalLock(block));
    DROPFILES head = {};
    head.pFiles = sizeof(DROPFILES);
    head.fWide = TRUE;
    std::memcpy(bytes, &head, sizeof head);
    std::memcpy(bytes + sizeof head, list.data(), listBytes);
    GlobalUnlock(block);
    return block;
}

FakeDataObject::FakeDataObject(const QStringList &names, Answer answer)
    : m_names(names)
    , m_answer(answer)
{}

FakeDataObject::~FakeDataObject()
{
    for (HGLOBAL block : m_blocks)
        GlobalFree(block);
}

HRESULT STDMETHODCALLTYPE FakeDataObject::QueryInterface(REFIID riid, void **ppvObject)
{
    *ppvObject = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    return *ppvObject ? S_OK : E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakeDataObject::GetData(FORMATETC *pformatetcIn, STGMEDIUM *pmedium)
{
    askedFormat = *pformatetcIn;
    if (m_answer == NoFileDrop || pformatetcIn->cfFormat != CF_HDROP ||
        !(pformatetcIn->tymed & TYMED_HGLOBAL))
        return DV_E_FORMATETC;
    pmedium->tymed = TYMED_HGLOBAL;
    pmedium->hGlobal = nullptr;
    if (m_answer == DropList) {
        m_blocks.push_back(makeDropBlock(m_names));
        pmedium->hGlobal = m_blocks.back();
    }
    // The medium stays ours: releasing it releases the owner.
    pmedium->pUnkForRelease = &owner;
    ++dataGiven;
    return S_OK;
}

RecordingMenu::RecordingMenu(const QStringList &hostItems)
{
    for (int i = 0; i < hostItems.size(); ++i) {
        Item item;
        item.text = hostItems.at(i);
        item.id = static_cast<UINT_PTR>(i + 1);
        items.append(item);
    }
}

BOOL RecordingMenu::insertItem(UINT position, UINT flags, UINT_PTR id, const QString &text)
{
    // Only insertion by position is expected of the extension.
    if (!(flags & MF_BYPOSITION))
        return FALSE;
    Item item;
    item.text = text;
    item.id = id;
    item.flags = flags;
    // As in Windows, a position past the end appends.
    items.insert(static_cast<int>(qMin<UINT>(position, UINT(items.size()))), item);
    return TRUE;
}

BOOL RecordingMenu::setItemBitmaps(UINT item, UINT flags, HBITMAP unchecked, HBITMAP checked)
{
    Item *target = nullptr;
    if (flags & MF_BYPOSITION) {
        if (item < UINT(items.size()))
            target = &items[static_cast<int>(item)];
    } else {
        for (Item &candidate : items) {
            if (candidate.id == item)
                target = &candidate;
        }
    }
    if (!target)
        return FALSE;
    target->bitmapsSet = true;
    target->unchecked = unchecked;
    target->checked = checked;
    return TRUE;
}

QStringList RecordingMenu::layout() const
{
    QStringList texts;
    for (const Item &item : items)
        texts << QStringLiteral("%1#%2").arg(item.text).arg(item.id);
    return texts;
}

const RecordingMenu::Item *RecordingMenu::find(UINT_PTR id) const
{
    for (const Item &item : items) {
        if (item.id == id)
            return &item;
    }
    return nullptr;
}
