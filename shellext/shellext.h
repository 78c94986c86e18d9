#pragma once

#include "shellext/platform.h"

#include <QAtomicInt>
#include <QStringList>

// The context-menu handler: keeps the paths of the files the user selected, offers "Compress with
// Quarn" when the selection holds STL files and "Decompress with Quarn" when it holds compressed
// meshes, and starts the program's batch mode on the whole selection when one is chosen. Counts
// as a live server object from construction to destruction; its reference count starts at 0.
// Used on one thread; takes no lock.
class CShellExt : public IContextMenu, public IShellExtInit
{
public:
    // Command offsets, added to the first identifier the shell gives; also the verbs of
    // InvokeCommand.
    enum Command : UINT
    {
        CompressCommand = 0,
        DecompressCommand = 1
    };

    CShellExt();
    virtual ~CShellExt();

    // IUnknown and IShellExtInit give the IShellExtInit face, IContextMenu the IContextMenu face
    // (each with a reference); anything else E_NOINTERFACE, a null ppv E_POINTER.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    // Both answer the new count; Release deletes the handler at 0.
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Appends the dropped files of the data object to the selection, each name whole. E_INVALIDARG
    // when the data object holds no file drop, its memory cannot be locked, or a name cannot be
    // read (the other names are still taken). The storage medium is always released.
    HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject *pdtobj,
                                         HKEY hkeyProgID) override;

    // Inserts the compress entry at indexMenu and the decompress entry at indexMenu + 1, as the
    // selection asks, both with the menu picture; answers the largest offset inserted plus one
    // (0 when none, and always with CMF_DEFAULTONLY).
    HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                               UINT uFlags) override;
    // Starts the program beside the library, detached, with "-compress" or "-decompress" and every
    // selected path. E_INVALIDARG for a verb string or an unknown command, E_FAIL when the program
    // cannot be started.
    HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO *pici) override;
    // Help texts (8-bit or UTF-16, cut to cchMax with the terminator) and command validation;
    // verbs are not offered (E_NOTIMPL).
    HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT uType, UINT *pReserved, CHAR *pszName,
                                               UINT cchMax) override;

private:
    QAtomicInt m_refCount;
    // Full paths of the selected files in selection order.
    QStringList m_selectedFiles;
};
