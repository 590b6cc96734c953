#include "engine/list/pre_scan.h"

#include <algorithm>
#include <string>

#include "engine/format/run_format.h"
#include "engine/format/y4m.h"
#include "engine/system/http.h"

namespace tsa {
namespace {

// A frame count with more after its digits ("1e2", read as 1), and its line.
struct PartlyReadCount {
  std::int64_t line = 0;
  std::string text;
  std::int32_t value = 0;
};

// What reading the list found: its frames, its distinct source names in
// order of first appearance, and the counts read only in part.
struct ListRead {
  std::int64_t totalFrames = 0;
  std::vector<std::string> fileNames;
  std::vector<PartlyReadCount> partlyRead;
};

// Notes the count of the instruction just read where it was read only in
// part; under `strict` that is a bad instruction, reported: false then.
bool notePartlyReadCount(const EditListReader& pEditListFile, const EditInstruction& inst,
                         bool strict, ListRead& read, Console& console) {
  const std::string& text = pEditListFile.partlyReadCount();
  if (text.empty()) {
    return true;
  }
  if (strict) {
    console.print("Bad edit instruction on line %lld: \"%s\" is not a whole number. Aborting.\n",
                  static_cast<long long>(pEditListFile.lineNumber()), text.c_str());
    return false;
  }
  read.partlyRead.push_back({pEditListFile.lineNumber(), text, inst.numFr});
  return true;
}

// Reads the whole list for its frame count and its distinct source names;
// a bad line or a name too many ends it.
ExitStatus readSourceNames(EditListReader& pEditListFile, const ScanRules& rules, Console& console,
                           ListRead& read) {
  const auto maxSources = static_cast<std::size_t>(std::max(rules.maxSources, 1));
  std::int64_t& totalFrames = read.totalFrames;
  std::vector<std::string>& fileNames = read.fileNames;
  EditInstruction inst;
  for (;;) {
    const EditListReader::Next next = pEditListFile.next(inst, console);
    if (next == EditListReader::Next::End) {
      return ExitStatus::Success;
    }
    if (next != EditListReader::Next::Instruction) {
      return EditListReader::failureStatus(next);
    }
    if (!notePartlyReadCount(pEditListFile, inst, rules.strict, read, console)) {
      return ExitStatus::BadEditInstruction;
    }
    totalFrames += inst.numFr;
    if (std::ranges::find(fileNames, inst.sourceFileName) != fileNames.end()) {
      continue;
    }
    if (fileNames.size() == maxSources) {
      console.print("Too many unique filenames in the edit list. Aborting.\n");
      return ExitStatus::TooManySources;
    }
    fileNames.push_back(inst.sourceFileName);
  }
}

// What each source states of its frames: a Y4M file by its header, any
// other by its name.
std::vector<StatingSource> statementsOf(const std::vector<SourceForm>& sources) {
  std::vector<StatingSource> statements;
  statements.reserve(sources.size());
  for (const SourceForm& source : sources) {
    statements.push_back(
        {source.name, source.y4mHeader.has_value(),
         source.y4mHeader ? statementOf(*source.y4mHeader) : whatNameStates(source.statingName())});
  }
  return statements;
}

// Prints why source `i` cannot be used, in the run of format `run`; false
// when it can.
bool reportUnusable(std::size_t i, Probe probe, const std::vector<SourceForm>& sources,
                    const std::vector<StatingSource>& statements, const RunFormat& run,
                    Console& console) {
  const SourceForm& source = sources[i];
  const std::string shown = shownName(source.name);
  const char* name = shown.c_str();
  if (probe == Probe::NotFound && !source.failure.empty()) {
    console.print("Input file \"%s\" not found (%s). Aborting.\n", name, source.failure.c_str());
  } else if (probe == Probe::NotFound) {
    console.print("Input file \"%s\" not found. Aborting.\n", name);
  } else if (probe == Probe::Refused) {
    console.print("Input file \"%s\" %s. Aborting.\n", name, source.failure.c_str());
  } else if (probe == Probe::BrokenHeader) {
    console.print("Input file \"%s\" has a broken Y4M header. Aborting.\n", name);
  } else if (source.y4mHeader && !y4m::holdsFramesOf(*source.y4mHeader, run.format)) {
    console.print("Input file \"%s\" is %s, not %s. Aborting.\n", name,
                  y4m::describe(*source.y4mHeader).c_str(), run.format.describe().c_str());
  } else if (run.conflict && run.conflict->source == i) {
    const StatingSource& other = statements[run.conflict->other];
    console.print("Input file \"%s\" is named %s, but \"%s\" %s. Aborting.\n", name,
                  run.asStated(statements[i].states).describe().c_str(),
                  shownName(other.name).c_str(), run.asStated(other.states).describe().c_str());
  } else {
    return false;
  }
  return true;
}

// Says what the run's frames are, where names gave any part of that.
void printFormatLine(const RunFormat& run, Console& console) {
  if (!run.fromNames()) {
    return;
  }
  const std::string rate = run.rate ? " at " + run.rate->describe() + " fps" : "";
  console.note("Frames: %s%s, as %s state\n", run.format.describe().c_str(), rate.c_str(),
               run.origins().c_str());
}

// The options win over a name, but the user hears of it.
void warnOfOverruledNames(const RunFormat& run, const std::vector<StatingSource>& statements,
                          Console& console) {
  for (const std::size_t i : run.overruled) {
    console.note("Warning: input file \"%s\" is named %s; read as %s, as the options say\n",
                 shownName(statements[i].name).c_str(),
                 run.asStated(statements[i].states).describe().c_str(),
                 run.format.describe().c_str());
  }
}

// A chosen format that does not fit a file's length is the commonest
// mistake: says so of every raw file among `sources` that is not a whole
// number of frames of `format`. The run goes on, and copies the whole
// frames. Under --strict the first such file ends the scan instead, as one
// that cannot be used: false after saying so.
bool reportPartFrames(const std::vector<SourceForm>& sources, const FrameFormat& format,
                      bool strict, Console& console) {
  const std::int64_t frameBytes = format.frameBytes();
  for (const SourceForm& source : sources) {
    const bool lengthKnown = source.regularFile || (source.url && source.url->length >= 0);
    if (!lengthKnown || source.y4mHeader || source.bytes % frameBytes == 0) {
      continue;
    }
    const std::string name = shownName(source.name);
    const std::string frames = format.describe();
    const auto bytes = static_cast<long long>(source.bytes);
    if (strict) {
      console.print(
          "Input file \"%s\" holds %lld bytes, not a whole number of %s frames (%lld bytes "
          "each). Aborting.\n",
          name.c_str(), bytes, frames.c_str(), static_cast<long long>(frameBytes));
      return false;
    }
    console.note(
        "Warning: input file \"%s\" holds %lld bytes, not a whole number of %s frames (%lld "
        "bytes each)\n",
        name.c_str(), bytes, frames.c_str(), static_cast<long long>(frameBytes));
  }
  return true;
}

// Names each frame count read only in part: the run copies the frames its
// digits give.
void warnOfPartlyReadCounts(const std::vector<PartlyReadCount>& counts, Console& console) {
  for (const PartlyReadCount& count : counts) {
    console.note("Warning: line %lld: \"%s\" is read as %d\n", static_cast<long long>(count.line),
                 count.text.c_str(), static_cast<int>(count.value));
  }
}

// True when every source that is a file is Y4M, and the run's size and
// pixel format are the first one's: a list of Y4M files alone.
bool onlyY4mFiles(const std::vector<SourceForm>& sources, const RunFormat& run) {
  return run.sizeFrom == FormatOrigin::Header && run.pixelsFrom == FormatOrigin::Header &&
         std::ranges::all_of(sources, [](const SourceForm& source) {
           return !source.regularFile || source.y4mHeader.has_value();
         });
}

ScanResult failed(ExitStatus status) {
  ScanResult result;
  result.status = status;
  return result;
}

// Looks at every source of `fileNames` into `sources` before the run's
// format is known, since the Y4M headers and the names give it, and
// decides the format into `run`; false after reporting the first source,
// in list order, that cannot be used, or frames that do not fit.
bool probeSources(const std::vector<std::string>& fileNames, const ScanRules& rules,
                  std::vector<SourceForm>& sources, RunFormat& run,
                  std::vector<StatingSource>& statements, Console& console) {
  std::vector<Probe> probes;
  probes.reserve(fileNames.size());
  sources.reserve(fileNames.size());
  for (const std::string& name : fileNames) {
    probes.push_back(probeSource(name, sources.emplace_back()));
  }
  statements = statementsOf(sources);
  run = decideRunFormat(statements, rules.format, rules.defaultFormat);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    sources[i].layout.pictureBytes = run.format.frameBytes();
    if (reportUnusable(i, probes[i], sources, statements, run, console)) {
      return false;
    }
  }
  if (!run.format.fits()) {
    console.print("Error: frames of %s do not fit: a frame may take %lld bytes at most\n",
                  run.format.describe().c_str(), static_cast<long long>(maxFrameBytes));
    return false;
  }
  return true;
}

}  // namespace

ScanResult scanEditList(EditListReader& pEditListFile, Console& console, const ScanRules& rules) {
  ScanResult result;
  ListRead list;
  if (const ExitStatus status = readSourceNames(pEditListFile, rules, console, list);
      status != ExitStatus::Success) {
    return failed(status);
  }
  result.totalFrames = list.totalFrames;
  RunFormat run;
  std::vector<StatingSource> statements;
  if (!probeSources(list.fileNames, rules, result.sources, run, statements, console)) {
    return failed(ExitStatus::SourceNotFound);
  }
  result.format = run.format;
  result.formatFromY4m = onlyY4mFiles(result.sources, run);
  if (run.rateFrom == FormatOrigin::Options || run.rateFrom == FormatOrigin::Names) {
    result.rate = run.rate;
  }
  printFormatLine(run, console);
  warnOfOverruledNames(run, statements, console);
  if ((run.chosen() || rules.strict) &&
      !reportPartFrames(result.sources, result.format, rules.strict, console)) {
    return failed(ExitStatus::SourceNotFound);
  }
  warnOfPartlyReadCounts(list.partlyRead, console);
  pEditListFile.rewind();
  return result;
}

}  // namespace tsa
