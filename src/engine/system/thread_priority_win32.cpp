#include <windows.h>

#include "engine/system/thread_priority.h"

namespace tsa {

void runBelowTheCopy() {
  (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace tsa
