#include <dlfcn.h>

#include "engine/system/shared_library.h"

namespace tsa {

SharedLibrary::SharedLibrary(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if ((handle_ = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)) != nullptr) {
      return;
    }
    why_ = ::dlerror();
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) {
    ::dlclose(handle_);
  }
}

void* SharedLibrary::symbol(const char* name) {
  void* found = handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
  if (found == nullptr && why_.empty()) {
    why_ = handle_ != nullptr ? std::string(::dlerror()) : "not loaded";
  }
  return found;
}

}  // namespace tsa
