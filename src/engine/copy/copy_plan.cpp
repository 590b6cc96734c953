#include "engine/copy/copy_plan.h"

#include "engine/format/y4m.h"

namespace tsa {

namespace {

// The header a Y4M output copies its fields from: the first Y4M source's,
// in list order, or none.
y4m::StreamHeader firstY4mHeader(const CopyPlan& plan) {
  for (const SourceForm& source : plan.sources) {
    if (source.y4mHeader) {
      return *source.y4mHeader;
    }
  }
  return {};
}

}  // namespace

std::string outputHeaderOf(const CopyPlan& plan) {
  return plan.y4mOutput ? y4m::outputHeader(plan.format, firstY4mHeader(plan), plan.frameRate) : "";
}

}  // namespace tsa
