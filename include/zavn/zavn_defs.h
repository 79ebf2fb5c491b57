/* Calling convention, export and linkage macros shared by every public ZAVN header. */
#ifndef ZAVN_DEFS_H
#define ZAVN_DEFS_H

#include <stdint.h>

/* Every exported function uses cdecl: the caller removes the arguments. */
#if defined(_WIN32)
#define ZAVN_CALL __cdecl
#else
#define ZAVN_CALL
#endif

/* Windows exports come from the module-definition file, under their plain names. */
#if !defined(_WIN32) && defined(__GNUC__)
#define ZAVN_API __attribute__((visibility("default")))
#else
#define ZAVN_API
#endif

#ifdef __cplusplus
#define ZAVN_EXTERN_C_BEGIN extern "C" {
#define ZAVN_EXTERN_C_END }
#else
#define ZAVN_EXTERN_C_BEGIN
#define ZAVN_EXTERN_C_END
#endif

#endif /* ZAVN_DEFS_H */
