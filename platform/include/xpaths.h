/* Device path service: logical location keys to directories. */
#ifndef CLONE_PLATFORM_XPATHS_H
#define CLONE_PLATFORM_XPATHS_H

#ifdef __cplusplus
extern "C" {
#endif

/* The directory for a location key; the text belongs to the service. Null for a bad key. */
const char* xpaths_get_path(const char* key);

/* 0 when DIRECTORY/RELATIVENAME is accessible with MODE, else -1. */
int xpaths_access(const char* directory, const char* relativeName, int mode);

#ifdef __cplusplus
}
#endif

#endif
