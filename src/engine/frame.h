// Exit statuses and the parsed form of one edit-list line: the vocabulary
// every part of the tool shares.
#pragma once

#include <cstdint>
#include <string>

namespace tsa {

/// The process exit status of every outcome; the numbers are what scripts see.
enum class ExitStatus : int {
  Success = 0,                // the output file was assembled completely
  UsageShown = 1,             // wrong number of arguments, or a bad option
  EditListNotFound = 2,       // the edit list cannot be opened
  OutputNotWritable = 3,      // the output file cannot be opened for writing
  BadEditInstruction = 4,     // a line of the edit list is malformed
  SourceDisappeared = 5,      // a source cannot be opened during the copy
  SourceTooShort = 6,         // a source ran out (or failed) before a whole frame
  WriteOrMemoryError = 7,     // writing the output failed, or no frame buffer
  TooManySources = 8,         // more than maxSourceFiles distinct sources
  SourceNotFound = 9,         // a source cannot be opened during the pre-scan
  OverwriteDeclined = 10,     // the output exists and the user said no
  DiffersFromReference = 11,  // the set differs from the reference it is checked against
  Interrupted = 130,          // a stop signal ended the copy: main ends the process by
                              // that signal (a shell shows 128 + its number)
};

/// One edit-list line: copy `numFr` frames of `sourceFileName`, starting at
/// frame `seekFr` (counted from 0).
struct EditInstruction {
  std::string sourceFileName;
  std::int32_t seekFr = 0;
  std::int32_t numFr = 0;
};

}  // namespace tsa
