// A source in an object store (s3://BUCKET/KEY): a URL of AWS's S3 or of an
// S3-compatible store, every request signed with the credentials the AWS
// tools would use, or unsigned for a public bucket where there are none.
#pragma once

#include <string>
#include <string_view>

#include "engine/source/byte_source.h"

namespace tsa {

/// Asks the store what the object `name` is, as probeUrlSource does.
[[nodiscard]] Probe probeObject(const std::string& name, SourceForm& form, std::string& start);

}  // namespace tsa
