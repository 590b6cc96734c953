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

bool reportHeaderDifferences(const CopyPlan& plan, bool strict, Console& console) {
  if (!plan.y4mOutput) {
    return true;
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
    const auto difference =
        y4m::firstDifference(plan.format, *first->y4mHeader, *source.y4mHeader, plan.frameRate);
    if (!difference) {
      continue;
    }
    const std::string name = shownName(source.name);
    const std::string model = shownName(first->name);
    if (strict) {
      console.print("Input file \"%s\" is %s, \"%s\" %s: one output cannot say both. Aborting.\n",
                    name.c_str(), difference->other.c_str(), model.c_str(),
                    difference->model.c_str());
      return false;
    }
    console.note("Warning: \"%s\" is %s, \"%s\" %s: the output says %s\n", name.c_str(),
                 difference->other.c_str(), model.c_str(), difference->model.c_str(),
                 difference->model.c_str());
    return true;
  }
  return true;
}

std::string y4mHeaderOf(const CopyPlan& plan) {
  return y4m::outputHeader(plan.format, firstY4mHeader(plan), plan.frameRate);
}

std::string outputHeaderOf(const CopyPlan& plan) { return plan.y4mOutput ? y4mHeaderOf(plan) : ""; }

}  // namespace tsa
