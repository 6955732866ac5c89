// Window messages the program registers with the system.
#pragma once

#include <windows.h>

namespace dozerin {

// The number of the registered "TaskbarCreated" message.
UINT TaskbarCreatedMessage();

}  // namespace dozerin
