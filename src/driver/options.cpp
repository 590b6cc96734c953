#include "driver/options.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "engine/format/y4m.h"
#include "engine/system/file.h"
#include "engine/system/whole_number.h"

namespace tsa {
namespace {

// Reads the value of --size, WxH or a name ffmpeg gives a size (cif,
// hd1080), into `format`; false with `problem` set.
bool readSizeValue(const std::string& value, FormatStatement& format, std::string& problem) {
  FrameSize size;
  if (const std::optional<FrameSize> named = sizeNamed(value)) {
    size = *named;
  } else if (!parseSize(value, size.width, size.height)) {
    problem = "Error: bad frame size \"" + value + "\": expected WIDTHxHEIGHT, such as 1920x1080";
    return false;
  }
  format.size = size;
  return true;
}

// Reads the value of --pix-fmt into `format`; false with `problem` set.
bool readPixelFormatValue(const std::string& value, FormatStatement& format, std::string& problem) {
  format.pixels = parsePixelFormat(value);
  if (format.pixels) {
    return true;
  }
  if (const std::string_view why = whyNotTaken(value); !why.empty()) {
    problem = "Error: pixel format \"" + value + "\" cannot be copied: " + std::string(why);
  } else {
    problem = "Error: unknown pixel format \"" + value +
              "\": expected a name ffmpeg gives one, such as yuv420p10le, nv12, p010le, "
              "yuyv422, rgb24 or gbrp";
  }
  return false;
}

// Reads the value of --frame-rate into `format`; false with `problem` set.
bool readFrameRateValue(const std::string& value, FormatStatement& format, std::string& problem) {
  FrameRate rate;
  if (!parseFrameRate(value, rate.numerator, rate.denominator)) {
    problem =
        "Error: bad frame rate \"" + value + "\": expected N or N/D, such as 25 or 30000/1001";
    return false;
  }
  format.rate = rate;
  return true;
}

// The problem with writing frames of `format` into the output `outFile`
// as Y4M (named so, or asked for with --y4m), or nothing when a Y4M file
// holds them.
std::string y4mProblem(const PixelFormat& pixels, const std::string& outFile) {
  if (!pixels.y4mColourSpace().empty()) {
    return {};
  }
  return "Error: a Y4M file cannot hold " + pixels.name() + " frames: " +
         (y4m::namesY4m(nameAsStored(outFile)) ? "name the output .yuv" : "leave out --y4m");
}

// Reads the value of --reflink; false with `problem` set.
bool readReflinkValue(const std::string& value, RunOptions& options, std::string& problem) {
  if (value != "auto" && value != "never") {
    problem = "Error: bad value \"" + value + "\" for --reflink: expected auto or never";
    return false;
  }
  options.shareBlocks = value == "auto";
  return true;
}

// Reads the value of --max-sources, a whole number from 1 up; false with
// `problem` set.
bool readMaxSourcesValue(const std::string& value, RunOptions& options, std::string& problem) {
  const std::optional<int> limit = wholeNumber<int>(value);
  if (!limit || *limit < 1) {
    problem =
        "Error: bad value \"" + value + "\" for --max-sources: expected a whole number from 1 up";
    return false;
  }
  options.maxSources = *limit;
  return true;
}

// Reads the value of --connections, a whole number from 1 to 32; false
// with `problem` set.
bool readConnectionsValue(const std::string& value, RunOptions& options, std::string& problem) {
  const std::optional<int> count = wholeNumber<int>(value);
  if (!count || *count < 1 || *count > maxConnections) {
    problem = "Error: bad value \"" + value +
              "\" for --connections: expected a whole number from 1 to " +
              std::to_string(maxConnections);
    return false;
  }
  options.connections = *count;
  options.connectionsGiven = true;
  return true;
}

// Reads the value of --framemd5 or --framehash (`option`), a file name;
// false with `problem` set.
bool readChecksumFileValue(std::string_view option, const std::string& value, RunOptions& options,
                           std::string& problem) {
  if (value.empty()) {
    problem = "Error: option " + std::string(option) + " needs a file name";
    return false;
  }
  if (!options.checksumOption.empty() && options.checksumOption != option) {
    problem = "Error: options --framemd5 and --framehash ask for two checksum files";
    return false;
  }
  options.checksumFile = value;
  options.checksumOption = option;
  return true;
}

// Reads the value of --hash, a name ffmpeg gives a hash; false with
// `problem` set.
bool readHashValue(const std::string& value, RunOptions& options, std::string& problem) {
  std::string why;
  const std::optional<HashKind> kind = hashNamed(value, why);
  if (!kind) {
    problem = "Error: hash \"" + value + "\" cannot be used: " + why;
    return false;
  }
  options.hash = *kind;
  options.hashGiven = true;
  return true;
}

}  // namespace

namespace {

// The options that take no value, and what each turns on.
struct Flag {
  std::string_view name;
  bool RunOptions::*setting;
};
constexpr std::array flags = {
    Flag{"--y4m", &RunOptions::y4mOutput},
    Flag{"--raw", &RunOptions::rawOutput},
    Flag{"--yes", &RunOptions::replaceWithoutAsking},
    Flag{"--quiet", &RunOptions::quiet},
    Flag{"--check", &RunOptions::checkOnly},
    Flag{"--strict", &RunOptions::strict},
};

// The switch called `name`, or null.
const Flag* flagNamed(std::string_view name) {
  for (const Flag& flag : flags) {
    if (flag.name == name) {
      return &flag;
    }
  }
  return nullptr;
}

bool takesValue(std::string_view name) {
  constexpr std::array withValues = {"--size",        "--pix-fmt",    "--reflink",   "--frame-rate",
                                     "--max-sources", "--framemd5",   "--framehash", "--hash",
                                     "--verify",      "--connections"};
  return std::ranges::find(withValues, name) != withValues.end();
}

// Reads `value`, given to the option `name`, into `line`'s options; false
// with line.problem set.
bool readValue(std::string_view name, const std::string& value, CommandLine& line) {
  if (name == "--size") {
    return readSizeValue(value, line.options.format, line.problem);
  }
  if (name == "--pix-fmt") {
    return readPixelFormatValue(value, line.options.format, line.problem);
  }
  if (name == "--reflink") {
    return readReflinkValue(value, line.options, line.problem);
  }
  if (name == "--max-sources") {
    return readMaxSourcesValue(value, line.options, line.problem);
  }
  if (name == "--connections") {
    return readConnectionsValue(value, line.options, line.problem);
  }
  if (name == "--framemd5" || name == "--framehash") {
    return readChecksumFileValue(name, value, line.options, line.problem);
  }
  if (name == "--hash") {
    return readHashValue(value, line.options, line.problem);
  }
  if (name == "--verify") {
    auto reference = std::make_shared<FrameReference>();
    if (!readFrameReference(value, *reference, line.problem)) {
      return false;
    }
    line.options.reference = std::move(reference);
    return true;
  }
  return readFrameRateValue(value, line.options.format, line.problem);
}

// What is wrong with the options of a command line whose arguments are all
// read, or nothing: frames too large, forms of output that contradict each
// other, or frames that a Y4M output cannot hold. The output is known by
// its name only on a line of two names.
std::string problemWithOptions(const CommandLine& line) {
  const RunOptions& options = line.options;
  // Parts the options leave out are the tool's default here; the run may
  // take them from its sources, and checks again.
  FrameFormat format = options.defaultFormat;
  if (options.format.size) {
    format.width = options.format.size->width;
    format.height = options.format.size->height;
  }
  format.pixels = options.format.pixels.value_or(format.pixels);
  if ((options.format.size || options.format.pixels) && !format.fits()) {
    return "Error: frames of " + format.describe() + " do not fit: a frame may take " +
           std::to_string(maxFrameBytes) + " bytes at most";
  }
  if (line.names.size() != 2) {
    return {};
  }
  if (options.rawOutput && options.y4mOutput) {
    return "Error: options --raw and --y4m ask for two forms of output";
  }
  if (options.reference && options.checkOnly) {
    return "Error: options --verify and --check do not go together";
  }
  if (options.hashGiven && options.checksumOption != "--framehash") {
    return "Error: option --hash goes with --framehash";
  }
  if (options.checksumFile == "-" && line.names[1] == "-") {
    return "Error: " + options.checksumOption + "=- and the output - both ask for standard output";
  }
  const bool y4mOutput =
      options.y4mOutput || (y4m::namesY4m(nameAsStored(line.names[1])) && !options.rawOutput);
  return y4mOutput && options.format.pixels ? y4mProblem(*options.format.pixels, line.names[1])
                                            : std::string();
}

}  // namespace

CommandLine readCommandLine(const std::vector<std::string>& arguments,
                            const FrameFormat& defaultFormat) {
  CommandLine line;
  line.options.defaultFormat = defaultFormat;
  bool optionsEnd = false;
  const auto bad = [&line](std::string problem) {
    line.verdict = CommandLine::Verdict::BadOption;
    line.problem = std::move(problem);
    return line;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnd || !argument.starts_with("--")) {
      line.names.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnd = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const Flag* flag = flagNamed(name);
    const bool shows = name == "--help" || name == "--version";
    if (!takesValue(name) && flag == nullptr && !shows) {
      return bad("Error: unknown option \"" + argument + "\"");
    }
    if (!takesValue(name) && equals != std::string::npos) {
      return bad("Error: option " + name + " takes no value");
    }
    if (shows) {
      line.verdict = name == "--help" ? CommandLine::Verdict::Help : CommandLine::Verdict::Version;
      return line;
    }
    if (flag != nullptr) {
      line.options.*(flag->setting) = true;
      continue;
    }
    if (equals == std::string::npos && i + 1 == arguments.size()) {
      return bad("Error: option " + name + " needs a value");
    }
    const std::string value =
        equals != std::string::npos ? argument.substr(equals + 1) : arguments[++i];
    if (!readValue(name, value, line)) {
      return bad(line.problem);
    }
  }
  if (const std::string problem = problemWithOptions(line); !problem.empty()) {
    return bad(problem);
  }
  if (line.options.checksumOption == "--framehash" && !line.options.hashGiven) {
    line.options.hash = HashKind::Sha256;  // ffmpeg's framehash's own
  }
  if (line.names.size() != 2) {
    line.verdict = CommandLine::Verdict::Usage;
  }
  return line;
}

std::string outputNamed(const std::vector<std::string>& arguments) {
  std::vector<std::string_view> names;
  bool optionsEnd = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnd || !argument.starts_with("--")) {
      names.emplace_back(argument);
    } else if (argument == "--") {
      optionsEnd = true;
    } else if (takesValue(argument) && i + 1 < arguments.size()) {
      ++i;  // the value, given as the next argument
    }
  }
  return names.size() >= 2 ? std::string(names[1]) : std::string();
}

void printUsage(Console& console) {
  console.print("Creates a Test Set file given an edit list\n");
  console.print("Parameter 1: name of edit list file\n");
  console.print("Parameter 2: names of output file (.yuv)\n");
}

void printHelp(Console& console, const FrameFormat& defaultFormat) {
  printUsage(console);
  console.print(
      "\n"
      "Options, anywhere before --:\n"
      "  --size=WxH        frame width and height, such as 1280x720, or a name\n"
      "                    ffmpeg gives a size: cif, 4cif, hd720, hd1080, uhd2160\n"
      "  --pix-fmt=NAME    pixel format, as ffmpeg names it: planar YUV (yuv420p,\n"
      "                    yuv422p10le, yuvj420p), with alpha (yuva444p), gray\n"
      "                    (gray16le), planar RGB (gbrp10le), semi-planar (nv12,\n"
      "                    p010le), packed YUV (yuyv422, y210le) or packed RGB\n"
      "                    (rgb24, bgra, x2rgb10le); the README's Formats lists all\n"
      "  --frame-rate=N[/D]  the frame rate a Y4M output's header gives (F)\n"
      "  --y4m             write the output as Y4M whatever its name\n"
      "  --raw             write the output raw whatever its name or sources\n"
      "  --yes             replace an existing output without asking\n"
      "  --quiet           print nothing but failures (and the question, if asked)\n"
      "  --check           check the list and every range against its source, and\n"
      "                    write nothing: the output is not opened\n"
      "  --strict          refuse, before anything is written, what would only be\n"
      "                    warned of: a frame count read in part (1e2), a raw file\n"
      "                    of part frames, Y4M headers that differ, a range past\n"
      "                    its source's end\n"
      "  --reflink=never   copy every byte, never share blocks with the sources\n"
      "  --max-sources=N   allow N distinct sources in the list instead of 13\n"
      "  --connections=N   fetch a large splice from a server over N connections\n"
      "                    at once, 1 to 32 (4; at most 16 MiB in memory each)\n"
      "  --framemd5=FILE   write the frames' checksums beside the output, as ffmpeg's\n"
      "                    framemd5 of the output writes them (- standard output)\n"
      "  --framehash=FILE  the same as ffmpeg's framehash writes them, with the hash\n"
      "                    --hash names\n"
      "  --hash=NAME       md5, sha1, sha224, sha256 (the default), sha384, sha512,\n"
      "                    sha512/224, sha512/256, crc32 or adler32\n"
      "  --verify=REF      compare every frame with its line in REF, a framemd5 or\n"
      "                    framehash file, as it is written: the first that differs\n"
      "                    ends the run with status 11\n"
      "  --help            show this text\n"
      "  --version         show the version\n"
      "  --                end of options: what follows are names\n"
      "\n"
      "A source may be an http://, https://, ftp:// or ftps:// URL, or an object\n"
      "s3://BUCKET/KEY (signed with the AWS tools' credentials, region and\n"
      "endpoint): each splice is fetched as one byte range, in parts where large.\n"
      "A source named .7z, .zip, .tar (.tar.gz, .tar.xz, .tar.zst, tar.bz2) is\n"
      "read inside: its one clip, or the member after a # (clips.zip#\n"
      "a_352x288.yuv, for a URL its fragment); .xz, .gz, .zst and .bz2 files are\n"
      "read as the file they hold. Nothing is unpacked to disk.\n"
      "Edit list - is standard input; output - is standard output, and the run's\n"
      "messages then go to standard error; it is Y4M when the sources are.\n"
      "The frames' size, pixel format and rate come, part by part, from the\n"
      "options, else the first Y4M source's header, else what the raw sources'\n"
      "names state (foreman_352x288_30.yuv, clip_1080p50_10bit.yuv, akiyo_cif.yuv),\n"
      "else the tool's default, %s. Names or headers that disagree are\n"
      "refused before anything is written; the options overrule a name, with a\n"
      "warning.\n",
      defaultFormat.describe().c_str());
}

}  // namespace tsa
