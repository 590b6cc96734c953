// The copy pass: frame runs from the sources to the output, with a live
// progress line.
#pragma once

#include <cstdint>
#include <span>

#include "engine/console.h"
#include "engine/edit_list.h"
#include "engine/file.h"

namespace tsa {

/// Prints the progress line after a frame: the splice percentage (frames of
/// the splice done before this one, over `numFr`), the source name and the
/// whole-run percentage (frames written so far, this one included, over
/// `totalFrames`). The line ends in a carriage return, so the next print
/// overwrites it.
void printProgressLine(Console& console, std::int64_t frameIndex, std::int64_t numFr,
                       const char* sourceFileName, std::int64_t framesWritten,
                       std::int64_t totalFrames);

/// Prints the line that closes a splice, over its last progress line.
void printClosingLine(Console& console, const char* sourceFileName);

/// Copies, for every instruction of the list (read again from its first
/// line), `numFr` whole frames from frame `seekFr` of the source to the end of
/// `pOutFile`, through `frameBuf` (frameSize bytes). Prints a progress line
/// per frame and a closing line per splice. Returns Success, or after
/// printing the reason: SourceDisappeared (5), SourceTooShort (6),
/// WriteOrMemoryError (7).
/// Frames written before a failure stay in the output.
[[nodiscard]] ExitStatus runAssembly(EditListReader& pEditListFile, OutputFile& pOutFile,
                                     std::span<unsigned char> frameBuf, std::int64_t totalFrames,
                                     Console& console);

}  // namespace tsa
