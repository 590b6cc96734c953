// The command line: two names, and options that say what the frames are
// and how the output is written.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy/frame_reference.h"
#include "engine/format/frame_format.h"
#include "engine/format/media_names.h"
#include "engine/list/edit_list.h"
#include "engine/system/console.h"
#include "engine/system/hash.h"

namespace tsa {

/// What a run is asked to do besides its two names.
/// The connections a large splice from a server may take at once, at most.
inline constexpr int maxConnections = 32;

struct RunOptions {
  FrameFormat defaultFormat;          // the tool's, where nothing names a format
  FormatStatement format;             // --size, --pix-fmt and --frame-rate, as given
  bool y4mOutput = false;             // --y4m
  bool rawOutput = false;             // --raw
  bool quiet = false;                 // --quiet
  bool checkOnly = false;             // --check
  bool strict = false;                // --strict
  bool replaceWithoutAsking = false;  // --yes
  bool shareBlocks = true;            // --reflink=never turns it off
  int maxSources = maxSourceFiles;    // --max-sources
  int connections = 4;                // --connections: for a large splice from a far server
  bool connectionsGiven = false;      // and from a near one too
  std::string checksumFile;       // --framemd5 or --framehash, where given (- is standard output)
  std::string checksumOption;     // which of the two gave it
  HashKind hash = HashKind::Md5;  // the checksums' hash: MD5, or --hash (SHA-256 unless given)
  bool hashGiven = false;         // --hash
  std::shared_ptr<const FrameReference> reference;  // --verify's, read
};

/// The command line, read.
struct CommandLine {
  enum class Verdict {
    Run,        // `names` holds the edit list and the output
    Help,       // --help
    Version,    // --version
    Usage,      // not two names: the usage text, status 1
    BadOption,  // the usage text and `problem`, status 1
  };
  Verdict verdict = Verdict::Run;
  std::vector<std::string> names;
  RunOptions options;
  std::string problem;  // one line, for BadOption
};

/// Reads the arguments after the program name, for a tool whose frames are
/// `defaultFormat` where nothing names a format. Options start with two
/// dashes and may stand anywhere until `--`, which ends them; a value
/// follows an `=` or comes as the next argument. Anything else (`-` and
/// `-x` too) is a name.
[[nodiscard]] CommandLine readCommandLine(const std::vector<std::string>& arguments,
                                          const FrameFormat& defaultFormat);

/// The second name of the arguments after the program name (the output),
/// found as readCommandLine finds names but read on past any option that
/// is wrong; empty where there is none.
[[nodiscard]] std::string outputNamed(const std::vector<std::string>& arguments);

/// Prints the usage text: what the tool does and its two names.
void printUsage(Console& console);

/// Prints the usage text with the options below it, and the tool's
/// default format.
void printHelp(Console& console, const FrameFormat& defaultFormat);

}  // namespace tsa
