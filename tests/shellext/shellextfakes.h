#pragma once

// Test doubles of the Windows shell for the context-menu extension: the loaded library with its
// exports, a data object holding a file drop, a menu that records what is inserted into it, and
// a reference holder for COM objects.

#include "shellext/winshim/winshim.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

// The extension's library, loaded with dlopen, with its exports and the stand-in layer's test
// controls resolved by name.
class ServerLibrary
{
public:
    ServerLibrary() = default;
    ServerLibrary(const ServerLibrary &) = delete;
    ServerLibrary &operator=(const ServerLibrary &) = delete;
    ~ServerLibrary();

    // Loads the library at path; false with errorString set when it or a symbol is missing.
    bool load(const QString &path);
    // Unloads the library (the loader may keep it while it is still referenced).
    void unload();
    QString errorString() const { return m_error; }

    HRESULT (*getClassObject)(REFCLSID, REFIID, LPVOID *) = nullptr;
    HRESULT (*canUnloadNow)() = nullptr;
    HRESULT (*registerServer)() = nullptr;
    HRESULT (*unregisterServer)() = nullptr;
    void (*setRegistryFile)(const char *) = nullptr;
    void (*setVersion)(DWORD) = nullptr;

private:
    void *m_handle = nullptr;
    QString m_error;
};

// Holds one reference to a COM object and releases it when it goes.
template <typename Interface>
class ComRef
{
public:
    ComRef() = default;
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() { reset(); }

    Interface *get() const { return m_object; }
    Interface *operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // The out-pointer of a query or a creation; the previous object is released first.
    void **out()
    {
        reset();
        return reinterpret_cast<void **>(&m_object);
    }
    void reset()
    {
        if (m_object)
            m_object->Release();
        m_object = nullptr;
    }

private:
    Interface *m_object = nullptr;
};

// The owner of a storage medium: counts how often the medium was released.
class MediumOwner : public IUnknown
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ++releases;
        return 1;
    }

    int releases = 0;
};

// A data object that answers the file-drop request with a list of names, with a failure, or with
// memory that cannot be locked. Lives on the test's stack; its media are freed with it.
class FakeDataObject : public IDataObject
{
public:
    enum Answer
    {
        DropList,
        NoFileDrop,
        UnlockableMemory
    };

    explicit FakeDataObject(const QStringList &names, Answer answer = DropList);
    ~FakeDataObject();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC *pformatetcIn, STGMEDIUM *pmedium) override;

    // The last format asked for, how often data was given, and the owner of the given media.
    FORMATETC askedFormat = {};
    int dataGiven = 0;
    MediumOwner owner;

private:
    QStringList m_names;
    Answer m_answer;
    std::vector<HGLOBAL> m_blocks;
};

// A file-drop block with the given names, as the shell hands it over (caller frees it).
HGLOBAL makeDropBlock(const QStringList &names);

// A menu that keeps its items in order and records the pictures set on them.
class RecordingMenu : public WinShimMenu
{
public:
    struct Item
    {
        QString text;
        UINT_PTR id = 0;
        UINT flags = 0;
        bool bitmapsSet = false;
        HBITMAP unchecked = nullptr;
        HBITMAP checked = nullptr;
    };

    // A menu holding the given items with identifiers 1, 2, ... as the host's own entries.
    explicit RecordingMenu(const QStringList &hostItems = {});

    BOOL insertItem(UINT position, UINT flags, UINT_PTR id, const QString &text) override;
    BOOL setItemBitmaps(UINT item, UINT flags, HBITMAP unchecked, HBITMAP checked) override;

    // The items as "text#id", in menu order.
    QStringList layout() const;
    // The item with the given identifier, or null.
    const Item *find(UINT_PTR id) const;

    QVector<Item> items;
};
