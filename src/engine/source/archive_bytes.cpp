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

// The one clip the archive of `form` holds, into form.archive->member:
// every member named as raw video, listed (in a compressed stream, such as
// a .tar.gz, up to the first one: listing on would decode the archive).
Probe chooseClip(SourceForm& form) {
  const std::unique_ptr<ContainerInput> input = openContainer(form);
  if (!input) {
    return Probe::NotFound;
  }
  ArchiveReader reader(*input, false);
  std::vector<std::string> clips;
  ArchiveMember member;
  for (ArchiveReader::Next next; (next = reader.next(member)) != ArchiveReader::Next::End;) {
    if (next == ArchiveReader::Next::Failed) {
      return refuse(form, cannotRead(reader));
    }
    if (member.regularFile && namedAsVideo(member.path)) {
      clips.push_back(member.path);
      if (reader.decodes()) {
        break;
      }
    }
  }
  if (clips.empty()) {
    return refuse(form, "holds no clip (no member named .yuv, .y4m, .raw, .rgb, .nv12, ...)");
  }
  if (clips.size() > 1) {
    return refuse(form, "holds " + std::to_string(clips.size()) + " clips: name one, as in \"" +
                            shownName(form.archive->container->name) + "#" + clips.front() + "\"");
  }
  form.archive->member = clips.front();
  return Probe::Usable;
}

// The name whose words state the member's format: its own where they
// state any part of it, else the archive's.
std::string statingNameOf(const ArchivedForm& archive) {
  return whatNameStates(archive.member).statesAnything() ? archive.member : archive.container->name;
}

// Looks at the member of `form` that is named: its length, where it lies,
// its first bytes.
Probe probeMember(SourceForm& form, std::string& start) {
  ArchivedForm& archive = *form.archive;
  const std::unique_ptr<ContainerInput> input = openContainer(form);
  if (!input) {
    return Probe::NotFound;
  }
  ArchiveReader reader(*input, archive.single);
  ArchiveMember member;
  const ArchiveReader::Next found = findMember(reader, archive, member);
  if (found == ArchiveReader::Next::Failed) {
    return refuse(form, cannotRead(reader));
  }
  if (found == ArchiveReader::Next::End) {
    form.failure = "the archive holds no member \"" + archive.member + "\"";
    return Probe::NotFound;
  }
  if (member.encrypted) {
    return refuse(form, "cannot be read (the member is encrypted)");
  }
  const std::optional<std::int64_t> storedAt = reader.storedAt(start, startBytes);
  if (reader.failed()) {
    return refuse(form, cannotRead(reader));
  }
  // In place only where the archive can be read from anywhere.
  if (member.bytes >= 0 && !input->bytes().inOrderOnly()) {
    archive.storedAt = storedAt;
  }
  form.regularFile = member.bytes >= 0;
  form.bytes = std::max<std::int64_t>(member.bytes, 0);
  form.namedAs = statingNameOf(archive);
  start.resize(std::min(start.size(), startBytes));
  return Probe::Usable;
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
  if (!named.single && named.member.empty()) {
    if (const Probe chosen = chooseClip(form); chosen != Probe::Usable) {
      return chosen;
    }
  }
  return probeMember(form, start);
}

std::unique_ptr<ByteSource> openArchive(const SourceForm& form, const ReadOptions& /*options*/) {
  return form.archive->storedAt ? storedMemberBytes(form) : decodedMemberBytes(form);
}

}  // namespace tsa
