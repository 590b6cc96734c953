#include "engine/copy/list_check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/format/y4m.h"
#include "engine/source/frame_source.h"
#include "engine/system/http.h"

namespace tsa {
namespace {

// "1 frame", "6 frames".
std::string count(std::int64_t number, const char* thing) {
  return std::to_string(number) + " " + thing + (number == 1 ? "" : "s");
}

// The whole frames a file of `source.bytes` bytes holds, laid out as
// `source.layout` says.
std::int64_t framesHeld(const SourceForm& source) {
  const FrameLayout& layout = source.layout;
  const std::int64_t afterHeader = source.bytes - layout.headerBytes;
  return afterHeader <= 0 ? 0 : afterHeader / (layout.markerBytes + layout.pictureBytes);
}

// Why the splice `inst` of `source` cannot be checked, or nothing when it
// can: a pipe or a device has no length, and frames behind markers of
// other lengths do not lie where the first frame's length puts them.
std::string whyUnchecked(const SourceForm& source, const EditInstruction& inst,
                         const FrameFormat& format) {
  if (source.url) {
    // Its length, from the pre-scan's answer; its markers are taken to be
    // like the first, as they are read.
    return source.url->length >= 0 ? "" : "a server that gives no length";
  }
  if (!source.regularFile) {
    return source.archive ? "a compressed file that gives no length" : "a pipe or device";
  }
  const std::int64_t inFile = std::max<std::int64_t>(
      0, std::min<std::int64_t>(inst.numFr, framesHeld(source) - inst.seekFr));
  FrameSource pSourceFile;
  if (source.layout.markerBytes == 0 || inFile == 0 ||
      (pSourceFile.open(source, format, false) &&
       pSourceFile.markersLikeTheFirst(inst.seekFr, inFile))) {
    return {};
  }
  return "frame markers of more than one length";
}

// The line that ends a good check: what the output would be, and which
// sources could not be checked.
void printSummary(std::int64_t splices, const CopyPlan& plan,
                  const std::vector<std::string>& unchecked, Console& console) {
  // What a server without ranges costs: it is read from its start.
  std::string fromStart;
  for (const SourceForm& source : plan.sources) {
    if (source.url && !source.url->ranges) {
      fromStart += (fromStart.empty() ? "; read from its start: \"" : ", \"") +
                   shownName(source.name) + "\" (the server serves no byte ranges)";
    }
  }
  const auto header = static_cast<std::int64_t>(outputHeaderOf(plan).size());
  const auto marker = static_cast<std::int64_t>(plan.y4mOutput ? y4m::frameMarker.size() : 0);
  const std::int64_t bytes = header + plan.totalFrames * (marker + plan.format.frameBytes());
  std::string notChecked;
  for (const std::string& source : unchecked) {
    notChecked += (notChecked.empty() ? "; not checked: " : ", ") + source;
  }
  console.note("Checked %s: %s of %s, a %s output of %s%s%s\n", count(splices, "splice").c_str(),
               count(plan.totalFrames, "frame").c_str(), plan.format.describe().c_str(),
               plan.y4mOutput ? "Y4M" : "raw", count(bytes, "byte").c_str(), notChecked.c_str(),
               fromStart.c_str());
}

// What a walk over the list's splices found: how many there are, and the
// sources that could not be checked.
struct RangeWalk {
  std::int64_t splices = 0;
  std::vector<std::string> unchecked;
};

// Walks the list from where it stands and checks every splice that can be
// checked against the frames its source holds; SourceTooShort after saying
// which splice runs past its source's end.
ExitStatus walkRanges(EditListReader& pEditListFile, const CopyPlan& plan, Console& console,
                      RangeWalk& walk) {
  EditInstruction inst;
  for (EditListReader::Next next = pEditListFile.next(inst, console);
       next == EditListReader::Next::Instruction; next = pEditListFile.next(inst, console)) {
    ++walk.splices;
    const SourceForm& source =
        *std::ranges::find(plan.sources, inst.sourceFileName, &SourceForm::name);
    if (const std::string why = whyUnchecked(source, inst, plan.format); !why.empty()) {
      std::string named = "\"";
      named.append(shownName(source.name)).append("\" (").append(why).append(")");
      if (std::ranges::find(walk.unchecked, named) == walk.unchecked.end()) {
        walk.unchecked.push_back(named);
      }
      continue;
    }
    const std::int64_t held = framesHeld(source);
    const std::int64_t last = std::int64_t{inst.seekFr} + inst.numFr - 1;
    if (inst.numFr > 0 && last >= held) {
      const std::string asked =
          inst.numFr == 1 ? "frame " + std::to_string(last)
                          : "frames " + std::to_string(inst.seekFr) + " to " + std::to_string(last);
      console.print("Error: line %lld: \"%s\" holds %s, not %s\n",
                    static_cast<long long>(pEditListFile.lineNumber()),
                    shownName(source.name).c_str(), count(held, "frame").c_str(), asked.c_str());
      return ExitStatus::SourceTooShort;
    }
  }
  return ExitStatus::Success;
}

}  // namespace

ExitStatus checkList(EditListReader& pEditListFile, const CopyPlan& plan, Console& console) {
  RangeWalk walk;
  const ExitStatus status = walkRanges(pEditListFile, plan, console, walk);
  if (status == ExitStatus::Success) {
    printSummary(walk.splices, plan, walk.unchecked, console);
  }
  return status;
}

ExitStatus checkRanges(EditListReader& pEditListFile, const CopyPlan& plan, Console& console) {
  RangeWalk walk;
  const ExitStatus status = walkRanges(pEditListFile, plan, console, walk);
  pEditListFile.rewind();
  return status;
}

}  // namespace tsa
