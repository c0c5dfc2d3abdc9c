/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): IOleWindow (the
   form's native widget on Linux) and the OLEMISC bits. */
#pragma once

#include "unknwn.h"

extern "C" PELMORA_COM_API const IID IID_IOleWindow;

struct IOleWindow : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL fEnterMode) = 0;
};

#define OLEMISC_RECOMPOSEONRESIZE 0x1
#define OLEMISC_CANTLINKINSIDE 0x10
#define OLEMISC_INSIDEOUT 0x80
#define OLEMISC_ACTIVATEWHENVISIBLE 0x100
#define OLEMISC_SETCLIENTSITEFIRST 0x20000
