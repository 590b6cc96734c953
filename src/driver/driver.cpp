#include "driver/driver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "driver/options.h"
#include "engine/copy/frame_buffer.h"
#include "engine/copy/frame_checksums.h"
#include "engine/copy/list_check.h"
#include "engine/copy/splicer.h"
#include "engine/format/y4m.h"
#include "engine/list/edit_list.h"
#include "engine/list/pre_scan.h"
#include "engine/source/archive_name.h"
#include "engine/system/file.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

const char* const banner = "Corvane Test Set Assembler (10-24-2014)\n";
const char* const version = TSA_VERSION;

// The name that stands for a standard stream: the edit list on standard
// input, or the output on standard output.
constexpr std::string_view standardStream = "-";

// An existing output is replaced only with the user's consent. A file that
// exists but cannot be read is still asked about: not being able to read it
// gives no right to destroy it. A file that another open holds for writing
// is not asked about, because the open for writing is refused next anyway.
bool outputNeedsConsent(const std::string& outFile) {
  if (outFile == standardStream || isPipeName(outFile) || lookAt(outFile).namedPipe) {
    // Whoever gave the run its standard output chose it; a named pipe is a
    // reader waiting for the frames, not a file that is replaced (and
    // opening a Windows one to look at it would connect to that reader and
    // hang up on it).
    return false;
  }
  const OpenResult probe = openForReading(outFile);
  if (probe.file.isOpen()) {
    return true;
  }
  return !probe.heldElsewhere && pathExists(outFile);
}

// Asks the overwrite question and reads one line of answer; end of input or
// a read error is a no.
bool askToOverwrite(const std::string& outFile, std::FILE* answers, Console& console) {
  console.print("%s exists. Overwrite? (y/n)?", outFile.c_str());
  console.flush();
  std::string answer;
  for (int c = std::fgetc(answers); c != EOF && c != '\n'; c = std::fgetc(answers)) {
    answer += static_cast<char>(c);
  }
  return isConsent(answer);
}

// What the output is to the run.
enum class OutputRole {
  NotRead,           // no file the run reads
  ReadByTheRun,      // the edit list, or a source
  MaybeReadByTheRun  // not among the names found, but the list could not
                     // be walked to its end (the pre-scan will fail there)
};

// Finds whether the output is a file that the run reads: the edit list, or
// a source that the list names (or the archive it lies in) and that exists
// now, by whatever path or link. Decided by identity alone, so it holds
// where locks do not. A device or a pipe as output is never one of them.
OutputRole roleOfOutput(bool regularFile, const FileIdentity& output, const FileIdentity& editList,
                        EditListReader& pEditListFile) {
  if (!regularFile) {
    return OutputRole::NotRead;
  }
  if (output == editList) {
    return OutputRole::ReadByTheRun;
  }
  const EditListReader::SourceNames sources = pEditListFile.sourceNames();
  if (std::ranges::any_of(sources.names, [&](const std::string& name) {
        return identityOf(fileBehind(name)) == output;
      })) {
    return OutputRole::ReadByTheRun;
  }
  return sources.wholeList ? OutputRole::NotRead : OutputRole::MaybeReadByTheRun;
}

void printOutputRefused(const std::string& outFile, Console& console) {
  console.print("Output file \"%s\" cannot be opened for writing\n", outFile.c_str());
}

// True when the output `outFile` is a file the run reads, as openOutput
// finds it, seen without opening it for writing.
bool outputIsReadByTheRun(const std::string& outFile, const FileIdentity& editList,
                          EditListReader& pEditListFile) {
  const std::optional<FileIdentity> identity = identityOf(outFile);
  return outFile != standardStream && identity &&
         roleOfOutput(lookAt(outFile).regularFile, *identity, editList, pEditListFile) ==
             OutputRole::ReadByTheRun;
}

// The output of a run.
struct Output {
  OutputFile file;
  std::optional<FileIdentity> identity;  // a regular file's
  bool device;                           // a character or block device: /dev/null, a console
  bool replaces;                         // it holds an older file, which is to be emptied
};

// Whether the output `outFile` is written as Y4M: asked for, named .y4m
// (a device never is), or standard output fed from Y4M sources whose
// format the run took; never with --raw.
bool writesY4m(const RunOptions& options, const std::string& outFile, bool device,
               bool formatFromY4m) {
  return !options.rawOutput &&
         (options.y4mOutput || (y4m::namesY4m(nameAsStored(outFile)) && !device) ||
          (outFile == standardStream && formatFromY4m));
}

// What the copy (or the check) needs to know of the run.
CopyPlan planOf(ScanResult scan, const RunOptions& options, bool y4mOutput) {
  CopyPlan plan;
  plan.totalFrames = scan.totalFrames;
  plan.sources = std::move(scan.sources);
  plan.format = scan.format;
  plan.y4mOutput = y4mOutput;
  // Frames checked against a reference pass through memory to be hashed.
  plan.shareBlocks = options.shareBlocks && !options.reference;
  plan.frameRate = scan.rate ? scan.rate->y4mValue() : "";
  plan.connections = {options.connections, options.connectionsGiven};
  return plan;
}

// Opens the output, unless it is a file the run reads, and says whether it
// is to be emptied. Devices and pipes (/dev/null, a terminal) have no length
// to cut, and an empty file needs no cut. Nor is a file cut that the list
// may name past a line the pre-scan will stop at: that run writes nothing.
std::optional<Output> openOutput(const std::string& outFile, const FileIdentity& editList,
                                 EditListReader& pEditListFile, Console& console) {
  const bool standardOutput = outFile == standardStream;
  OpenResult output = standardOutput ? openStandardOutput() : openForWriting(outFile);
  bool usable = output.file.isOpen();
  bool replaces = false;
  if (usable) {
    const OutputRole role =
        roleOfOutput(output.regularFile, output.identity, editList, pEditListFile);
    usable = role != OutputRole::ReadByTheRun;
    // Standard output comes as its opener left it: `>` has emptied it,
    // `>>` appends.
    replaces =
        role == OutputRole::NotRead && output.regularFile && output.size > 0 && !standardOutput;
  }
  if (!usable) {
    printOutputRefused(outFile, console);
    return std::nullopt;
  }
  if (standardOutput && output.regularFile && output.size == 0) {
    // A shell's > that emptied the file left the mark of a file being
    // replaced on it (see OutputFile::emptyInBackground); an open of the
    // file's own, closed at once, clears it.
    (void)openAgain(output.file);
  }
  return Output{OutputFile(std::move(output.file), outFile, output.regularFile,
                           standardOutput ? OutputFile::Origin::StandardOutput
                                          : OutputFile::Origin::OpenedByTheRun),
                output.regularFile ? std::optional(output.identity) : std::nullopt, output.device,
                replaces};
}

// Prints what a command line that runs nothing asks for: the help, the
// version, or the usage (and what is wrong); returns its status.
ExitStatus showInstead(const CommandLine& line, Console& console) {
  switch (line.verdict) {
    case CommandLine::Verdict::Help:
      printHelp(console, line.options.defaultFormat);
      return ExitStatus::Success;
    case CommandLine::Verdict::Version:
      console.print("%stestset-assembler %s\n", banner, version);
      return ExitStatus::Success;
    case CommandLine::Verdict::BadOption:
      printUsage(console);
      console.print("%s\n", line.problem.c_str());
      return ExitStatus::UsageShown;
    case CommandLine::Verdict::Usage:
    case CommandLine::Verdict::Run:
      break;
  }
  printUsage(console);
  return ExitStatus::UsageShown;
}

// Opens the edit list `editListFile` (- for standard input) into
// `pEditListFile`, and takes its identity; false after saying why not.
bool openEditList(const std::string& editListFile, EditListReader& pEditListFile,
                  FileIdentity& identity, Console& console) {
  OpenResult editList =
      editListFile == standardStream ? openStandardInput() : openForReading(editListFile);
  if (!editList.file.isOpen()) {
    console.print("Edit list file \"%s\" not found\n", editListFile.c_str());
    return false;
  }
  identity = editList.identity;
  // A list that is not a file is read whole now: the answer to the
  // overwrite question may come down the same stream.
  return pEditListFile.load(std::move(editList.file), editListFile, console) &&
         (editList.regularFile || pEditListFile.readAll(console));
}

// The pre-scan, and the form of the output: Y4M or raw. Success, or the
// status after the reason was printed: a Y4M output of frames it cannot
// hold, where the sources' names chose them, is refused here.
ExitStatus scanRun(EditListReader& pEditListFile, const RunOptions& options,
                   const std::string& outFile, bool device, ScanResult& scan, bool& y4mOutput,
                   Console& console) {
  scan = scanEditList(
      pEditListFile, console,
      ScanRules{options.defaultFormat, options.format, options.maxSources, options.strict});
  if (scan.status != ExitStatus::Success) {
    return scan.status;
  }
  y4mOutput = writesY4m(options, outFile, device, scan.formatFromY4m);
  if (y4mOutput && scan.format.pixels.y4mColourSpace().empty()) {
    console.print("Error: a Y4M file cannot hold %s frames: name the output .yuv\n",
                  scan.format.pixels.name().c_str());
    return ExitStatus::SourceNotFound;
  }
  return ExitStatus::Success;
}

// The pre-scan and what the run decides from it: the plan, or the status
// after the reason was printed. Y4M sources whose headers differ are a
// warning, or under --strict a refusal.
ExitStatus planRun(EditListReader& pEditListFile, const RunOptions& options,
                   const std::string& outFile, bool device, CopyPlan& plan, Console& console) {
  ScanResult scan;
  bool y4mOutput = false;
  if (const ExitStatus status =
          scanRun(pEditListFile, options, outFile, device, scan, y4mOutput, console);
      status != ExitStatus::Success) {
    return status;
  }
  plan = planOf(std::move(scan), options, y4mOutput);
  if (!reportHeaderDifferences(plan, options.strict, console)) {
    return ExitStatus::SourceNotFound;
  }
  // A strict run checks every range before anything is written, as
  // --check does in its own walk.
  return options.strict && !options.checkOnly ? checkRanges(pEditListFile, plan, console)
                                              : ExitStatus::Success;
}

// True, after saying so, when the checksum file `checksumFile` is refused
// as an output is: it is a file the run reads, or the output.
bool checksumFileRefused(const std::string& checksumFile, const FileIdentity& editList,
                         const std::optional<FileIdentity>& output, EditListReader& pEditListFile,
                         Console& console) {
  if (checksumFile.empty() || checksumFile == standardStream) {
    return false;
  }
  const std::optional<FileIdentity> identity = identityOf(checksumFile);
  if ((identity && output && *identity == *output) ||
      outputIsReadByTheRun(checksumFile, editList, pEditListFile)) {
    console.print("Checksum file \"%s\" cannot be opened for writing\n", checksumFile.c_str());
    return true;
  }
  return false;
}

// The checksums (of hash `kind`) of the run's frames into `checksumFile`
// (- for standard output), emptied first; null after saying why they cannot
// be made.
std::unique_ptr<FrameChecksums> startChecksums(const std::string& checksumFile, HashKind kind,
                                               const CopyPlan& plan, Console& console) {
  OpenResult opened =
      checksumFile == standardStream ? openStandardOutput() : openForWriting(checksumFile);
  int error = opened.error;
  if (opened.file.isOpen() && opened.regularFile && checksumFile != standardStream) {
    error = cutToLength(opened.file, 0);
  }
  if (!opened.file.isOpen() || error != 0) {
    console.print("Error: cannot write to checksum file \"%s\" (%s)\n", checksumFile.c_str(),
                  describeError(error != 0 ? error : EACCES).c_str());
    return nullptr;
  }
  auto checksums = std::make_unique<FrameChecksums>(
      std::move(opened.file), checksumFile, checksumHeaderOf(plan, kind),
      static_cast<std::size_t>(plan.format.frameBytes()), kind);
  return checksums->start(console) ? std::move(checksums) : nullptr;
}

// The copy of the planned run into the open `output`, with its checksums:
// the frame buffer, the older file emptied, stop signals caught, the frames
// moved. The status of the copy, or of the checksums where the copy went
// well.
ExitStatus copyFrames(EditListReader& pEditListFile, const CopyPlan& plan,
                      const RunOptions& options, Output& output, Console& console) {
  const std::size_t frameBufBytes = tsa::frameBufBytes(
      plan.format, slotCount(plan.format, !options.checksumFile.empty(), output.replaces));
  const FrameBuffer frameBuf = allocateFrameBuffer(frameBufBytes, console);
  if (!frameBuf) {
    return ExitStatus::WriteOrMemoryError;
  }
  std::unique_ptr<FrameChecksums> checksums;
  if (!options.checksumFile.empty() &&
      !(checksums = startChecksums(options.checksumFile, options.hash, plan, console))) {
    return ExitStatus::WriteOrMemoryError;
  }
  if (output.replaces) {
    // Freeing the old file's blocks overlaps the first reads; no byte is
    // written before the file is empty.
    output.file.emptyInBackground();
  }
  // From here on a stop signal lets the output keep whole frames; before,
  // with no frame copied, it ends the run at once.
  catchStopSignals();
  const ExitStatus copied = runAssembly(pEditListFile, output.file,
                                        std::span<unsigned char>(frameBuf.get(), frameBufBytes),
                                        plan, console, checksums.get(), options.reference.get());
  // The checksums of the frames the output keeps, whatever ended the copy.
  const ExitStatus summed = checksums ? checksums->finish(console) : ExitStatus::Success;
  return copied != ExitStatus::Success ? copied : summed;
}

// Says where the reference `reference` is of other frames than the run's
// (their size, or their bytes): DiffersFromReference, before any frame is
// written.
ExitStatus checkReferenceFrames(const FrameReference& reference, const FrameFormat& format,
                                Console& console) {
  const char* path = reference.path.c_str();
  if (reference.width != 0 &&
      (reference.width != format.width || reference.height != format.height)) {
    console.print("Error: \"%s\" is of %lldx%lld frames, not %lldx%lld\n", path,
                  static_cast<long long>(reference.width), static_cast<long long>(reference.height),
                  static_cast<long long>(format.width), static_cast<long long>(format.height));
    return ExitStatus::DiffersFromReference;
  }
  const auto other = std::ranges::find_if(
      reference.sizes, [&](std::int64_t size) { return size != format.frameBytes(); });
  if (other != reference.sizes.end()) {
    console.print("Error: \"%s\" is of frames of %lld bytes, not %lld\n", path,
                  static_cast<long long>(*other), static_cast<long long>(format.frameBytes()));
    return ExitStatus::DiffersFromReference;
  }
  return ExitStatus::Success;
}

// Says where the reference `reference` holds another number of frames than
// the output, which holds every frame of the list, each as the reference
// has it.
ExitStatus checkReferenceCount(const FrameReference& reference, std::int64_t frames,
                               Console& console) {
  if (static_cast<std::int64_t>(reference.hashes.size()) == frames) {
    return ExitStatus::Success;
  }
  console.print("Error: \"%s\" holds %lld frames, the output %lld\n", reference.path.c_str(),
                static_cast<long long>(reference.hashes.size()), static_cast<long long>(frames));
  return ExitStatus::DiffersFromReference;
}

// The run from the pre-scan on, into the open `output`: the copy, and the
// closing report. An older file in the output is emptied only once
// everything before the copy has passed: a run that fails before it leaves
// that file as it was.
ExitStatus copyRun(EditListReader& pEditListFile, const RunOptions& options,
                   const std::string& outFile, Output& output, Console& console) {
  const auto time0 = std::chrono::steady_clock::now();
  CopyPlan plan;
  if (const ExitStatus status =
          planRun(pEditListFile, options, outFile, output.device, plan, console);
      status != ExitStatus::Success) {
    return status;
  }
  if (const ExitStatus status = options.reference
                                    ? checkReferenceFrames(*options.reference, plan.format, console)
                                    : ExitStatus::Success;
      status != ExitStatus::Success) {
    return status;
  }
  if (const ExitStatus status = copyFrames(pEditListFile, plan, options, output, console);
      status != ExitStatus::Success) {
    return status;
  }
  if (!output.file.close(console)) {
    return ExitStatus::WriteOrMemoryError;
  }
  if (const ExitStatus status =
          options.reference ? checkReferenceCount(*options.reference, plan.totalFrames, console)
                            : ExitStatus::Success;
      status != ExitStatus::Success) {
    return status;
  }
  const auto time1 = std::chrono::steady_clock::now();
  printDoneLine(console, std::chrono::duration_cast<std::chrono::seconds>(time1 - time0).count());
  return ExitStatus::Success;
}

// A run that checks the list (--check) and writes nothing: the output is
// not asked about or opened, only told apart from the files the run reads
// (status 3, as the run would end).
ExitStatus checkRun(EditListReader& pEditListFile, const FileIdentity& editList,
                    const RunOptions& options, const std::string& outFile, Console& console) {
  if (outputIsReadByTheRun(outFile, editList, pEditListFile)) {
    printOutputRefused(outFile, console);
    return ExitStatus::OutputNotWritable;
  }
  const std::optional<FileIdentity> output =
      lookAt(outFile).regularFile ? identityOf(outFile) : std::nullopt;
  if (checksumFileRefused(options.checksumFile, editList, output, pEditListFile, console)) {
    return ExitStatus::OutputNotWritable;
  }
  CopyPlan plan;
  if (const ExitStatus status = planRun(pEditListFile, options, outFile, false, plan, console);
      status != ExitStatus::Success) {
    return status;
  }
  return checkList(pEditListFile, plan, console);
}

}  // namespace

std::FILE* messageStream(const std::vector<std::string>& arguments,
                         const FrameFormat& defaultFormat) {
  const std::vector<std::string> afterProgram =
      arguments.empty() ? arguments
                        : std::vector<std::string>(arguments.begin() + 1, arguments.end());
  const CommandLine line = readCommandLine(afterProgram, defaultFormat);
  // Frames or checksums on standard output send the messages to standard
  // error; so does a command line that meant to send them there and cannot
  // be run: its usage text must not go down an encoder's pipe.
  const bool framesOnStandardOutput =
      line.verdict == CommandLine::Verdict::Run
          ? line.names[1] == standardStream || line.options.checksumFile == standardStream
          : (line.verdict == CommandLine::Verdict::Usage ||
             line.verdict == CommandLine::Verdict::BadOption) &&
                outputNamed(afterProgram) == standardStream;
  return framesOnStandardOutput ? stderr : stdout;
}

bool isConsent(std::string_view answer) {
  return !answer.empty() && (answer.front() == 'y' || answer.front() == 'Y');
}

void printDoneLine(Console& console, std::int64_t elapsedSeconds) {
  if (elapsedSeconds > 60) {
    console.note("Done! (elapsed time %lld min. %lld sec.)\n",
                 static_cast<long long>(elapsedSeconds / 60),
                 static_cast<long long>(elapsedSeconds % 60));
  } else {
    console.note("Done! (elapsed time %.0f seconds)\n", static_cast<double>(elapsedSeconds));
  }
}

ExitStatus runDriver(int argc, const char* const* argv, std::FILE* answers, Console& console,
                     const FrameFormat& defaultFormat) {
  const CommandLine line = readCommandLine(
      std::vector<std::string>(argv + std::min(argc, 1), argv + argc), defaultFormat);
  if (line.verdict != CommandLine::Verdict::Run) {
    return showInstead(line, console);
  }
  const RunOptions& options = line.options;
  if (options.quiet) {
    console.quieten();
  }
  console.note("%s\n", banner);

  // The edit list is opened before the output path is looked at, so a
  // missing list never leads to the question or to a changed output.
  EditListReader pEditListFile;
  FileIdentity editListIdentity;
  if (!openEditList(line.names[0], pEditListFile, editListIdentity, console)) {
    return ExitStatus::EditListNotFound;
  }
  const std::string& outFile = line.names[1];
  if (options.checkOnly) {
    return checkRun(pEditListFile, editListIdentity, options, outFile, console);
  }
  if (!options.replaceWithoutAsking && outputNeedsConsent(outFile) &&
      !askToOverwrite(outFile, answers, console)) {
    return ExitStatus::OverwriteDeclined;
  }
  std::optional<Output> output = openOutput(outFile, editListIdentity, pEditListFile, console);
  if (!output || checksumFileRefused(options.checksumFile, editListIdentity, output->identity,
                                     pEditListFile, console)) {
    return ExitStatus::OutputNotWritable;
  }
  return copyRun(pEditListFile, options, outFile, *output, console);
}

}  // namespace tsa
