/* KESTRUM_API marks what the shared library (libkestrum.so.1, kestrum.dll)
   exports: the C interface of <kestrum/kestrum.h> and the C++ runtime API of
   <kestrum/pak_reader.h> and the format headers it includes. The library is
   built with hidden visibility, so nothing else leaves it. Written in C, as
   the C header includes it too. */
#ifndef KESTRUM_EXPORT_H
#define KESTRUM_EXPORT_H

#if defined(_WIN32)
/* KESTRUM_BUILDING_LIBRARY is set while Kestrum itself is compiled. Callers
   need no dllimport: the import library forwards function calls, and the
   interface has no data. */
#if defined(KESTRUM_BUILDING_LIBRARY)
#define KESTRUM_API __declspec(dllexport)
#else
#define KESTRUM_API
#endif
#elif defined(__GNUC__)
#define KESTRUM_API __attribute__((visibility("default")))
#else
#define KESTRUM_API
#endif

#endif
