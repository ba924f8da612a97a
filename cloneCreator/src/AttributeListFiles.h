// The attribute lists that group expansion writes into the clone staging directory and the
// capture helpers read, and the directory where those helpers stage their exports.
#ifndef CLONE_ATTRIBUTELISTFILES_H
#define CLONE_ATTRIBUTELISTFILES_H

#include "CloneCreator.h"

#define NVRAM_ATTR_LIST CLONE_STAGING_DIR "nvram_attr_list"
#define NVRAM_ATTR_LIST_CLONESELF CLONE_STAGING_DIR "nvram_attr_listcloneself"
#define CFG_ATTR_LIST CLONE_STAGING_DIR "cfg_attr_list"
#define CFG_ATTR_LIST_CLONESELF CLONE_STAGING_DIR "cfg_attr_listcloneself"
#define CFG_CCS_ATTR_LIST CLONE_STAGING_DIR "cfg_ccs_attr_list"
#define DS_ATTR_LIST CLONE_STAGING_DIR "ds_attr_list"
#define DS_CCS_ATTR_LIST CLONE_STAGING_DIR "ds_ccs_attr_list"
#define DLM_ATTR_LIST CLONE_STAGING_DIR "dlm_attr_list"

// Scratch file of every list transformation; it never outlives one.
#define ATTR_LIST_TMP CLONE_STAGING_DIR "attr_list.tmp"

// Staging directory of the attribute captures.
#define CLONE_STORAGE_DIR CLONE_EXPORT_DATA_DIR "cloneStorage/"

#endif
