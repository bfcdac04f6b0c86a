// Who runs this process, for the descriptors of what the run creates.
#ifndef RAVEN_APPKIT_USER_SID_H
#define RAVEN_APPKIT_USER_SID_H

#include <string>

// The SID of the process's user in string form, empty when it cannot be had.
std::string UserSidString();

#endif
