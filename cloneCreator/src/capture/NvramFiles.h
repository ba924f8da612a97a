// Fixed files of the NVRAM capture and of the attribute-list transformations.
#ifndef CLONE_CAPTURE_NVRAMFILES_H
#define CLONE_CAPTURE_NVRAMFILES_H

#include "CloneCreator.h"

// Attribute lists written by group expansion.
#define NVRAM_ATTR_LIST CLONE_STAGING_DIR "nvram_attr_list"
#define NVRAM_ATTR_LIST_CLONESELF CLONE_STAGING_DIR "nvram_attr_listcloneself"

// Scratch file of every list transformation; it never outlives one.
#define ATTR_LIST_TMP CLONE_STAGING_DIR "attr_list.tmp"

// The one-line question to saveCnConfig about the automatic-addressing mode, and its answer.
#define AUTO_ADDRESS_IN CLONE_STAGING_DIR "auto_address.in"
#define AUTO_ADDRESS_OUT CLONE_STAGING_DIR "auto_address.out"

#define SAVE_CN_CONFIG "/xpaths/nc_dlms/clone/apps/saveCnConfig"

// Staging directory of the attribute captures, and what the NVRAM capture puts there.
#define CLONE_STORAGE_DIR CLONE_EXPORT_DATA_DIR "cloneStorage/"
#define NVM_CLONE CLONE_STORAGE_DIR "nvm_clone"
#define NVM_CLONESELF CLONE_STORAGE_DIR "nvm_cloneself"
#define REBOOT_MARKER CLONE_STORAGE_DIR "clone_install_requires_reboot"
#define NVM_XML CLONE_STORAGE_DIR "NVM.xml"
#define DEFAULT_NVM_XML "/usr/ui/pum/nvm/defaults/Default/NVM.xml"

#endif
