#include "engine/source/archive_bytes.h"

#include <vector>

#include "engine/format/media_names.h"
#include "engine/format/y4m.h"
#include "engine/source/archive_name.h"
#include "engine/source/member_bytes.h"

namespace tsa {
namespace {

// The first bytes of a member the pre-scan reads: a Y4M header and the
// first frame's marker line, at most.
constexpr std::size_t startBytes = 2 * y4m::maxLineBytes;

Probe refuse(SourceForm& form, std::string why) {
  form.failure = std::move(why);
  return Probe::Refused;
}

std::string cannotRead(const ArchiveReader& reader) {
  return "cannot be read (" + reader.error() + ")";
}

// The name whose words state the member's format: its own where they
// state any part of it, else the archive's.
std::string statingNameOf(const ArchivedForm& archive) {
  return whatNameStates(archive.member).statesAnything() ? archive.member : archive.container->name;
}

// Looks at `member`, where `reader` stands, as the member of `form`: its
// length, where it lies, its first bytes into `start`.
Probe lookAtMember(ArchiveReader& reader, const ContainerInput& input, const ArchiveMember& member,
                   SourceForm& form, std::string& start) {
  if (member.encrypted) {
    return refuse(form, "cannot be read (the member is encrypted)");
  }
  const std::optional<std::int64_t> storedAt = reader.storedAt(start, startBytes);
  if (reader.failed()) {
    return refuse(form, cannotRead(reader));
  }
  ArchivedForm& archive = *form.archive;
  if (!archive.single) {
    archive.member = member.path;  // a compressed file's keeps its file's name
  }
  // In place only where the archive can be read from anywhere.
  if (member.bytes >= 0 && !input.bytes().inOrderOnly()) {
    archive.storedAt = storedAt;
  }
  form.regularFile = member.bytes >= 0;
  form.bytes = std::max<std::int64_t>(member.bytes, 0);
  form.namedAs = statingNameOf(archive);
  start.resize(std::min(start.size(), startBytes));
  return Probe::Usable;
}

// Finds the member of `form` in one pass over the archive's members, and
// looks at it: the one named, or else the one clip, every member named as
// raw video being listed (in a compressed stream, such as a .tar.gz, up to
// the first one: listing on would decode the archive).
Probe lookAtMembers(SourceForm& form, std::string& start) {
  const std::unique_ptr<ContainerInput> input = openContainer(form);
  if (!input) {
    return Probe::NotFound;
  }
  ArchivedForm& archive = *form.archive;
  ArchiveReader reader(*input, archive.single);
  const bool named = archive.single || !archive.member.empty();
  std::vector<std::string> clips;
  Probe looked = Probe::NotFound;
  ArchiveMember member;
  for (ArchiveReader::Next next; (next = reader.next(member)) != ArchiveReader::Next::End;) {
    if (next == ArchiveReader::Next::Failed) {
      return refuse(form, cannotRead(reader));
    }
    if (named && (archive.single || member.path == archive.member)) {
      return lookAtMember(reader, *input, member, form, start);
    }
    if (!named && member.regularFile && namedAsVideo(member.path)) {
      clips.push_back(member.path);
      if (clips.size() == 1 &&
          (looked = lookAtMember(reader, *input, member, form, start)) != Probe::Usable) {
        return looked;
      }
      if (reader.decodes()) {
        break;
      }
    }
  }
  if (named) {
    form.failure = "the archive holds no member \"" + archive.member + "\"";
    return Probe::NotFound;
  }
  if (clips.empty()) {
    return refuse(form, "holds no clip (no member named .yuv, .y4m, .raw, .rgb, .nv12, ...)");
  }
  if (clips.size() > 1) {
    return refuse(form, "holds " + std::to_string(clips.size()) + " clips: name one, as in \"" +
                            shownName(archive.container->name) + "#" + clips.front() + "\"");
  }
  return looked;
}

}  // namespace

bool isArchiveSource(std::string_view name) { return archiveNamed(std::string(name)).has_value(); }

Probe probeArchive(const std::string& name, SourceForm& form, std::string& start) {
  const ArchiveName named = *archiveNamed(name);
  auto container = std::make_shared<SourceForm>();
  container->name = named.container;
  container->archiveBytes = true;
  std::string ignored;
  if (const Probe probe = probeBytes(named.container, *container, ignored);
      probe != Probe::Usable) {
    form.failure = container->failure;
    return probe;
  }
  if (!container->regularFile && !container->url) {
    return refuse(form, "cannot be read (an archive is read from a file or a URL, not a pipe)");
  }
  form.archive =
      ArchivedForm{container, named.single ? memberOfSingle(named.container) : named.member,
                   named.single, std::nullopt};
  return lookAtMembers(form, start);
}

std::unique_ptr<ByteSource> openArchive(const SourceForm& form, const ReadOptions& /*options*/) {
  return form.archive->storedAt ? storedMemberBytes(form) : decodedMemberBytes(form);
}

}  // namespace tsa
