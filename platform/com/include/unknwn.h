/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): IUnknown and
   IClassFactory. */
#pragma once

#include "windef.h"
#include "winerror.h"

extern "C" PELMORA_COM_API const IID IID_NULL;
extern "C" PELMORA_COM_API const IID GUID_NULL;
extern "C" PELMORA_COM_API const IID IID_IUnknown;
extern "C" PELMORA_COM_API const IID IID_IClassFactory;

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
typedef IClassFactory* LPCLASSFACTORY;
