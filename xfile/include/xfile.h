/* Small file utilities: copies by descriptor, directory paths, whole-buffer I/O. */
#ifndef CLONE_XFILE_H
#define CLONE_XFILE_H

#include <stddef.h>
#include <sys/types.h>

#include "bool_t.h"

#if defined(__GNUC__)
#define XFILE_EXPORT __attribute__((visibility("default")))
#else
#define XFILE_EXPORT
#endif

/* Status codes of the copy functions. */
#define XFILE_OK 0
#define XFILE_EOPEN (-107)
#define XFILE_EREAD (-136)
#define XFILE_EWRITE (-137)
#define XFILE_ETIMES (-144)

#ifdef __cplusplus
extern "C" {
#endif

XFILE_EXPORT status_t xcopy(char* src, char* dest);
XFILE_EXPORT status_t xcopyp(char* src, char* dest);
XFILE_EXPORT status_t xappend(char* src, char* dest);
XFILE_EXPORT int xmkdir(char* path, mode_t mode);
XFILE_EXPORT bool_t fexists(char* filename);
XFILE_EXPORT int iread(int fd, void* buf, size_t nbyte);
XFILE_EXPORT int iwrite(int fd, void* buf, size_t nbyte);
XFILE_EXPORT char* strnext(char* mainstr, char delimiter, char* buffer);

#ifdef __cplusplus
}
#endif

#endif
