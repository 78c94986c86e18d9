#pragma once

#include "shellext/platform.h"

#include <QAtomicInt>

// The class factory of the context-menu extension. The first factory made in a process without an
// application object creates one (with the extension's identity) and the menu picture; every
// factory counts as a live server object from construction to destruction. Its reference count
// starts at 0; the creator takes the first reference through QueryInterface.
class CShellExtClassFactory : public IClassFactory
{
public:
    CShellExtClassFactory();
    virtual ~CShellExtClassFactory();

    // IUnknown and IClassFactory give this object (and a reference); anything else E_NOINTERFACE,
    // a null ppvObject E_POINTER.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
    // Both answer the new count; Release deletes the factory at 0.
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Makes a context-menu handler and asks it for riid: CLASS_E_NOAGGREGATION with an outer
    // object, E_OUTOFMEMORY when it cannot be allocated, else the handler's answer (a handler
    // nobody took is deleted again). *ppvObject is null on every failure.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) override;
    // S_OK; counts nothing.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    QAtomicInt m_refCount;
};
