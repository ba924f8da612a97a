/* Device configuration-attribute store. */
#ifndef CLONE_PLATFORM_CFG_ATTR_H
#define CLONE_PLATFORM_CFG_ATTR_H

#include "bool_t.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 and the value (NUL-terminated, cut to size - 1 bytes) when present; non-zero otherwise. */
int Cfg_GetAttrValue(const char* name, char* buffer, int size);

/* 0 and the boolean in *value when the attribute holds a boolean; non-zero otherwise. */
int Cfg_GetBoolAttrValue(const char* name, bool_t* value);

#ifdef __cplusplus
}
#endif

#endif
