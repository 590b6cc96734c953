#include "engine/source/local_bytes.h"

#include "engine/format/y4m.h"
#include "engine/source/file_bytes.h"
#include "engine/source/pipe_bytes.h"

namespace tsa {

Probe probeLocal(const std::string& name, SourceForm& form, std::string& start) {
  const PathInfo info = lookAt(name);
  if (!info.readable) {
    return Probe::NotFound;
  }
  if (!info.regularFile) {
    return Probe::Usable;
  }
  const OpenResult file = openForReading(name);
  if (!file.file.isOpen()) {
    return Probe::NotFound;
  }
  form.regularFile = file.regularFile;
  form.bytes = file.size;
  if (!file.regularFile) {
    return Probe::Usable;  // swapped for something else since the look
  }
  // The header line and the first frame's marker line, at most.
  start.assign(2 * y4m::maxLineBytes, '\0');
  std::size_t got = 0;
  for (Transfer read{1, 0}; got < start.size() && read.bytes > 0 && read.error == 0;) {
    read = readSome(file.file, std::span(reinterpret_cast<unsigned char*>(start.data()) + got,
                                         start.size() - got));
    got += read.bytes;
  }
  start.resize(got);
  return Probe::Usable;
}

std::unique_ptr<ByteSource> openLocal(const SourceForm& form, const ReadOptions& options) {
  OpenResult opened = openForReading(form.name, PipeOpen::WaitForWriter);
  if (!opened.file.isOpen()) {
    return nullptr;
  }
  // A pipe has no position to move to; a disk or a device with one is read
  // where its frames lie, as a file is.
  if (!opened.regularFile && positionOf(opened.file) < 0) {
    return pipeBytes(std::move(opened));
  }
  return fileBytes(std::move(opened), options);
}

}  // namespace tsa
