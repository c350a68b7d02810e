// Marks the declarations that a shared build of the library exports; the
// library is compiled with hidden visibility, so nothing else is.
#ifndef INI_INIEXPORT_H
#define INI_INIEXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define INI_API __attribute__((visibility("default")))
#else
#define INI_API
#endif

#endif  // INI_INIEXPORT_H
