// Xlib and its extensions (XFixes for the clipboard's change notices, the shape extension), loaded
// when the player first talks to an X display instead of at start-up, where with their own
// dependencies they are eight shared libraries that a run without a display never uses.
//
// Include this header last, after every other header, in the platform's X11 code: it names every
// Xlib function that code calls and redirects each name to the loaded table, so the code reads as
// plain Xlib. A function missing from the list fails the build at the link.
#pragma once

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#ifdef QV_HAVE_XFIXES
#include <X11/extensions/Xfixes.h>
#endif
#ifdef QV_HAVE_XSHAPE
#include <X11/extensions/shape.h>
#endif
// clang-format on

namespace qv {

// Every Xlib function the platform calls: X(function).
#define QV_XLIB_FUNCTIONS(X) \
  X(XChangeProperty)         \
  X(XCloseDisplay)           \
  X(XConvertSelection)       \
  X(XCreateSimpleWindow)     \
  X(XDeleteProperty)         \
  X(XDestroyWindow)          \
  X(XExtendedMaxRequestSize) \
  X(XFlush)                  \
  X(XFree)                   \
  X(XGetImage)               \
  X(XGetSelectionOwner)      \
  X(XGetWindowAttributes)    \
  X(XGetWindowProperty)      \
  X(XInternAtoms)            \
  X(XMaxRequestSize)         \
  X(XNextEvent)              \
  X(XOpenDisplay)            \
  X(XPending)                \
  X(XSelectInput)            \
  X(XSendEvent)              \
  X(XSetErrorHandler)        \
  X(XSetSelectionOwner)
#ifdef QV_HAVE_XFIXES
#define QV_XFIXES_FUNCTIONS(X) \
  X(XFixesQueryExtension)      \
  X(XFixesSelectSelectionInput)
#else
#define QV_XFIXES_FUNCTIONS(X)
#endif
#ifdef QV_HAVE_XSHAPE
#define QV_XSHAPE_FUNCTIONS(X) X(XShapeCombineMask)
#else
#define QV_XSHAPE_FUNCTIONS(X)
#endif

struct qvXlib {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument names a member
#define QV_XLIB_MEMBER(name) decltype(&::name) name;
  QV_XLIB_FUNCTIONS(QV_XLIB_MEMBER)
  QV_XFIXES_FUNCTIONS(QV_XLIB_MEMBER)
  QV_XSHAPE_FUNCTIONS(QV_XLIB_MEMBER)
#undef QV_XLIB_MEMBER
};

// Loads the libraries on the first call (any thread; later calls answer at once). False when one
// of them or of their functions is missing: then every function of the table does nothing and
// answers zero (XOpenDisplay no display).
bool LoadXlib();

// The table: Xlib's own functions once LoadXlib succeeded, before that (or after it failed) the
// ones that do nothing. Any thread.
const qvXlib* XlibFunctions();

}  // namespace qv

#ifndef QV_XLIB_NO_REDIRECT
#define XChangeProperty (::qv::XlibFunctions()->XChangeProperty)
#define XCloseDisplay (::qv::XlibFunctions()->XCloseDisplay)
#define XConvertSelection (::qv::XlibFunctions()->XConvertSelection)
#define XCreateSimpleWindow (::qv::XlibFunctions()->XCreateSimpleWindow)
#define XDeleteProperty (::qv::XlibFunctions()->XDeleteProperty)
#define XDestroyWindow (::qv::XlibFunctions()->XDestroyWindow)
#define XExtendedMaxRequestSize (::qv::XlibFunctions()->XExtendedMaxRequestSize)
#define XFlush (::qv::XlibFunctions()->XFlush)
#define XFree (::qv::XlibFunctions()->XFree)
#define XGetImage (::qv::XlibFunctions()->XGetImage)
#define XGetSelectionOwner (::qv::XlibFunctions()->XGetSelectionOwner)
#define XGetWindowAttributes (::qv::XlibFunctions()->XGetWindowAttributes)
#define XGetWindowProperty (::qv::XlibFunctions()->XGetWindowProperty)
#define XInternAtoms (::qv::XlibFunctions()->XInternAtoms)
#define XMaxRequestSize (::qv::XlibFunctions()->XMaxRequestSize)
#define XNextEvent (::qv::XlibFunctions()->XNextEvent)
#define XOpenDisplay (::qv::XlibFunctions()->XOpenDisplay)
#define XPending (::qv::XlibFunctions()->XPending)
#define XSelectInput (::qv::XlibFunctions()->XSelectInput)
#define XSendEvent (::qv::XlibFunctions()->XSendEvent)
#define XSetErrorHandler (::qv::XlibFunctions()->XSetErrorHandler)
#define XSetSelectionOwner (::qv::XlibFunctions()->XSetSelectionOwner)
#ifdef QV_HAVE_XFIXES
#define XFixesQueryExtension (::qv::XlibFunctions()->XFixesQueryExtension)
#define XFixesSelectSelectionInput (::qv::XlibFunctions()->XFixesSelectSelectionInput)
#endif
#ifdef QV_HAVE_XSHAPE
#define XShapeCombineMask (::qv::XlibFunctions()->XShapeCombineMask)
#endif
#endif
