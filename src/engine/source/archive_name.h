// How a source's name reads a member of an archive or a compressed file:
// the extension of the archive's name decides, and a # names the member.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tsa {

/// A name that reads a member of an archive.
struct ArchiveName {
  std::string container;  // the archive's own name: a path or a URL
  std::string member;     // the member's path inside; empty: the archive's one clip
  bool single = false;    // a compressed file (.xz, .gz, .zst, .bz2) of one member
};

/// True when `name` ends as the name of an archive (.7z, .zip, .tar and
/// its compressed forms) or of a compressed file, in any case.
[[nodiscard]] bool namesArchive(std::string_view name);

/// What `name` reads: the archive it names, and the member after its
/// first # that follows an archive's name (for a URL, its fragment);
/// nothing where it names no archive. A name with a # that is a file of
/// its own is that file.
[[nodiscard]] std::optional<ArchiveName> archiveNamed(const std::string& name);

/// The name of the one member of the compressed file `name`: its name
/// without the compression's extension.
[[nodiscard]] std::string memberOfSingle(std::string_view name);

/// True when the compressed file `name` is a .gz, whose trailer keeps the
/// CRC32 and length of its bytes.
[[nodiscard]] bool keepsGzipTrailer(std::string_view name);

/// True when the member `path` is named as raw video is (.yuv, .y4m, ...).
[[nodiscard]] bool namedAsVideo(std::string_view path);

/// The path or URL whose bytes the source `name` reads: an archive's, or
/// the name itself.
[[nodiscard]] std::string fileBehind(const std::string& name);

}  // namespace tsa
