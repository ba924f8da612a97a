// The inspecting commands of clonefile, each in a file of its own.
#ifndef CLONE_TOOLS_CLONEFILE_COMMANDS_H
#define CLONE_TOOLS_CLONEFILE_COMMANDS_H

#include "clonefile_common.h"

namespace clonetool {

// clonefile show [--key PUBLIC.pem] [--json] FILE: 0 shown, 1 failed check or operation, 2 usage.
int cmdShow(const Args& args);
// clonefile diff [--key PUBLIC.pem] [--json] [--content] A B: 0 the same, 1 different, 2 trouble.
int cmdDiff(const Args& args);

}  // namespace clonetool

#endif
