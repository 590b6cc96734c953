#include <sys/resource.h>
#include <unistd.h>

#include "engine/system/thread_priority.h"

namespace tsa {

void runBelowTheCopy() {
  // Linux gives each thread a nice value of its own: 5 steps down weighs
  // it about a third of a thread of the copy.
  constexpr int belowTheCopy = 5;
  const auto thread = static_cast<id_t>(gettid());
  (void)setpriority(PRIO_PROCESS, thread, getpriority(PRIO_PROCESS, thread) + belowTheCopy);
}

}  // namespace tsa
