// Threads that do bulk work on the side of the copy.
#pragma once

namespace tsa {

/// Lets the calling thread run below the others of the run (a little: it
/// still takes its share beside other programs), so that the threads that
/// read, write, or wait for the file system to free an old file's blocks
/// take a processor the moment they have something to do.
void runBelowTheCopy();

}  // namespace tsa
