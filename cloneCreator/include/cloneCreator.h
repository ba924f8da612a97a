/* External interface of libcloneCreator.so. */
#ifndef CLONECREATOR_PUBLIC_H
#define CLONECREATOR_PUBLIC_H

#ifdef __cplusplus
#include <string>
extern "C" {
#endif

/* Makes the clone file of the groups in GROUPNAMELINE (names each followed by one space) in the
 * absolute directory OUTPUTLOCATION. 0 when the clone file exists afterwards, 1 otherwise. */
int createCloneDLM(char* outputLocation, const char* password, char* groupNameLine);

#ifdef __cplusplus
}
/* "cloneSelf" once an export's group line held "CLONE_TO_SELF_GROUP". */
extern std::string srtCloneSelfType;
#endif

#endif
