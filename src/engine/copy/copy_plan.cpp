#include "engine/copy/copy_plan.h"

#include "engine/format/y4m.h"
#include "engine/system/http.h"

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

void warnOfHeaderDifferences(const CopyPlan& plan, Console& console) {
  if (!plan.y4mOutput) {
    return;
  }
  const SourceForm* first = nullptr;
  for (const SourceForm& source : plan.sources) {
    if (!source.y4mHeader) {
      continue;
    }
    if (first == nullptr) {
      first = &source;
      continue;
    }
    if (const auto difference = y4m::firstDifference(plan.format, *first->y4mHeader,
                                                     *source.y4mHeader, plan.frameRate)) {
      console.note("Warning: \"%s\" is %s, \"%s\" %s: the output says %s\n",
                   shownName(source.name).c_str(), difference->other.c_str(),
                   shownName(first->name).c_str(), difference->model.c_str(),
                   difference->model.c_str());
      return;
    }
  }
}

std::string y4mHeaderOf(const CopyPlan& plan) {
  return y4m::outputHeader(plan.format, firstY4mHeader(plan), plan.frameRate);
}

std::string outputHeaderOf(const CopyPlan& plan) { return plan.y4mOutput ? y4mHeaderOf(plan) : ""; }

}  // namespace tsa
