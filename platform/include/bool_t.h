/* Integer truth and status types shared by the device services and the library. */
#ifndef CLONE_PLATFORM_BOOL_T_H
#define CLONE_PLATFORM_BOOL_T_H

typedef int bool_t;
typedef long status_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#endif
