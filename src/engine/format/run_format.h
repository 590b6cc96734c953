// The format of a run's frames, decided part by part (size, pixel format,
// rate) from what the options, the Y4M sources' headers and the raw
// sources' names state, and why.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/format/frame_format.h"
#include "engine/format/media_names.h"
#include "engine/format/y4m.h"

namespace tsa {

/// Where a part of the run's format comes from.
enum class FormatOrigin { Default, Options, Header, Names };

/// One source as the pre-scan finds it: what its header states (a Y4M
/// file) or what its name states (any other).
struct StatingSource {
  std::string_view name;
  bool byHeader = false;
  FormatStatement states;
};

/// What a Y4M header states: its size, pixel format and rate (F), each
/// where the tool can read it; nothing of a C value it does not know.
[[nodiscard]] FormatStatement statementOf(const y4m::StreamHeader& header);

/// A source that states another size or pixel format than one before it
/// in list order (`other`), or than the header the run's format comes from.
struct FormatConflict {
  std::size_t source = 0;
  std::size_t other = 0;
};

/// The run's format, and where each part of it comes from.
struct RunFormat {
  FrameFormat format;
  std::optional<FrameRate> rate;
  FormatOrigin sizeFrom = FormatOrigin::Default;
  FormatOrigin pixelsFrom = FormatOrigin::Default;
  FormatOrigin rateFrom = FormatOrigin::Default;
  std::optional<FormatConflict> conflict;  // the first, in list order
  std::vector<std::size_t> overruled;      // sources whose names the options overrule

  /// True when some part comes from the options, a header or a name.
  [[nodiscard]] bool chosen() const;

  /// True when some part comes from the names of sources.
  [[nodiscard]] bool fromNames() const;

  /// The format of the run's frames with the parts `states` gives in place
  /// of the run's: what a source says its frames are.
  [[nodiscard]] FrameFormat asStated(const FormatStatement& states) const;

  /// Where the parts of the format that do not come from the build's
  /// default come from: "the options and the source names".
  [[nodiscard]] std::string origins() const;
};

/// Decides the run's format, part by part, in this order: what `options`
/// give; the first Y4M header's; the first name that states the part;
/// `defaultFormat`, the tool's. A raw source whose name states a size or pixel
/// format other than the one decided from a header or an earlier name is
/// a conflict; one whose name the options overrule is listed.
[[nodiscard]] RunFormat decideRunFormat(std::span<const StatingSource> sources,
                                        const FormatStatement& options,
                                        const FrameFormat& defaultFormat);

}  // namespace tsa
