#pragma once

#include <QList>
#include <QString>

// The top-level windows of other processes on the test's X display, as a window manager sees
// them. Kept apart from the Qt sources: the X headers define names such as None and Status.
namespace x11test {

struct TopLevel
{
    unsigned long id = 0;
    QString title;
};

// The viewable top-level windows whose _NET_WM_PID is pid, bottom to top; empty without a
// display.
QList<TopLevel> windowsOf(qint64 pid);
// Asks the window to close as its title bar's close button would (WM_DELETE_WINDOW); false
// without a display.
bool requestClose(unsigned long id);
// Gives the window the keyboard focus, as a window manager does when the user clicks it; false
// without a display.
bool focus(unsigned long id);
// Sends the window a press and a release of the key (an X keysym such as XK_f), with Alt held
// when alt is true; false without a display or when the keyboard has no such key.
bool typeKey(unsigned long id, unsigned long keysym, bool alt = false);

} // namespace x11test
