#include "driver/options.h"

#include <string_view>

namespace tsa {
namespace {

// Reads the value of --size into `format`; false with `problem` set.
bool readSizeValue(const std::string& value, FrameFormat& format, std::string& problem) {
  std::int64_t width = 0;
  std::int64_t height = 0;
  if (!parseSize(value, width, height)) {
    problem = "Error: bad frame size \"" + value + "\": expected WIDTHxHEIGHT, such as 1920x1080";
    return false;
  }
  format.width = width;
  format.height = height;
  return true;
}

// Reads the value of --pix-fmt into `format`; false with `problem` set.
bool readPixelFormatValue(const std::string& value, FrameFormat& format, std::string& problem) {
  const std::optional<SampleFormat> samples = parsePixelFormat(value);
  if (!samples) {
    problem = "Error: unknown pixel format \"" + value +
              "\": expected yuv420p, yuv422p, yuv444p, yuv411p, gray or a 9- to 16-bit "
              "little-endian form such as yuv420p10le";
    return false;
  }
  format.samples = *samples;
  return true;
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

}  // namespace

CommandLine readCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  FrameFormat format = defaultFrameFormat;
  bool formatGiven = false;
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
    const bool takesValue = name == "--size" || name == "--pix-fmt" || name == "--reflink";
    const bool takesNone =
        name == "--y4m" || name == "--yes" || name == "--help" || name == "--version";
    if (!takesValue && !takesNone) {
      return bad("Error: unknown option \"" + argument + "\"");
    }
    std::string value;
    if (takesValue && equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (takesValue && i + 1 < arguments.size()) {
      value = arguments[++i];
    } else if (takesValue) {
      return bad("Error: option " + name + " needs a value");
    } else if (equals != std::string::npos) {
      return bad("Error: option " + name + " takes no value");
    }

    bool read = true;
    if (name == "--size") {
      read = readSizeValue(value, format, line.problem);
      formatGiven = true;
    } else if (name == "--pix-fmt") {
      read = readPixelFormatValue(value, format, line.problem);
      formatGiven = true;
    } else if (name == "--reflink") {
      read = readReflinkValue(value, line.options, line.problem);
    } else if (name == "--y4m") {
      line.options.y4mOutput = true;
    } else if (name == "--yes") {
      line.options.replaceWithoutAsking = true;
    } else if (name == "--help") {
      line.verdict = CommandLine::Verdict::Help;
      return line;
    } else {
      line.verdict = CommandLine::Verdict::Version;
      return line;
    }
    if (!read) {
      return bad(line.problem);
    }
  }
  if (formatGiven) {
    if (!format.fits()) {
      return bad("Error: frames of " + format.describe() + " do not fit: a frame may take " +
                 std::to_string(maxFrameBytes) + " bytes at most");
    }
    line.options.format = format;
  }
  if (line.names.size() != 2) {
    line.verdict = CommandLine::Verdict::Usage;
  }
  return line;
}

void printUsage(Console& console) {
  console.print("Creates a Test Set file given an edit list\n");
  console.print("Parameter 1: name of edit list file\n");
  console.print("Parameter 2: names of output file (.yuv)\n");
}

void printHelp(Console& console) {
  printUsage(console);
  console.print(
      "\n"
      "Options, anywhere before --:\n"
      "  --size=WxH        frame width and height, such as 1280x720\n"
      "  --pix-fmt=NAME    pixel format: yuv420p, yuv422p, yuv444p, yuv411p, gray,\n"
      "                    or a 9- to 16-bit little-endian form such as yuv420p10le\n"
      "                    or gray16le\n"
      "  --y4m             write the output as Y4M whatever its name\n"
      "  --yes             replace an existing output without asking\n"
      "  --reflink=never   copy every byte, never share blocks with the sources\n"
      "  --help            show this text\n"
      "  --version         show the version\n"
      "  --                end of options: what follows are names\n"
      "\n"
      "Edit list - is standard input; output - is standard output, and the run's\n"
      "messages then go to standard error.\n"
      "Raw sources are read as %s unless the options say otherwise;\n"
      "a list of Y4M sources only takes the format of the first.\n",
      defaultFrameFormat.describe().c_str());
}

}  // namespace tsa
