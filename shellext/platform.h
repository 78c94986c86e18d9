#pragma once

// The Windows interfaces of the extension: the system's own headers on Windows, our stand-in
// layer elsewhere.
#ifdef _WIN32
// windows.h first: the others build on its types and macros.
#include <windows.h>

#include <olectl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <QtGui/qtguiglobal.h>

class QPixmap;
// Exported by the toolkit's GUI library on Windows.
Q_GUI_EXPORT HBITMAP qt_pixmapToWinHBITMAP(const QPixmap &p, int hbitmapFormat = 0);
#else
#include "shellext/winshim/winshim.h"
#endif

// The alpha treatments of qt_pixmapToWinHBITMAP.
enum HBitmapFormat
{
    HBitmapNoAlpha = 0,
    HBitmapPremultipliedAlpha = 1,
    HBitmapAlpha = 2
};
