// Fixed files of the NVRAM capture and of the attribute-list transformations.
#ifndef CLONE_CAPTURE_NVRAMFILES_H
#define CLONE_CAPTURE_NVRAMFILES_H

#include "StagingPaths.h"

// The one-line question to saveCnConfig about the automatic-addressing mode, and its answer.
#define AUTO_ADDRESS_IN CLONE_STAGING_DIR "auto_address.in"
#define AUTO_ADDRESS_OUT CLONE_STAGING_DIR "auto_address.out"

#define SAVE_CN_CONFIG "/xpaths/nc_dlms/clone/apps/saveCnConfig"

// What the NVRAM capture stages.
#define NVM_CLONE CLONE_STORAGE_DIR "nvm_clone"
#define NVM_CLONESELF CLONE_STORAGE_DIR "nvm_cloneself"
#define REBOOT_MARKER CLONE_STORAGE_DIR "clone_install_requires_reboot"
#define NVM_XML CLONE_STORAGE_DIR "NVM.xml"
#define DEFAULT_NVM_XML "/usr/ui/pum/nvm/defaults/Default/NVM.xml"

#endif
