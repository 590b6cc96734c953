// A shared library loaded while the process runs, for a dependency that
// only some runs need (libcurl for URLs, libcrypto for checksums): a run
// that needs neither maps neither. The system layer's own.
#pragma once

#include <initializer_list>
#include <string>

namespace tsa {

/// One shared library, loaded by its first name that loads, and unloaded
/// with the object.
class SharedLibrary {
 public:
  explicit SharedLibrary(std::initializer_list<const char*> names);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  /// False where it could not be loaded or a function was missing; why()
  /// then gives the loader's words.
  [[nodiscard]] bool loaded() const { return handle_ != nullptr && why_.empty(); }
  [[nodiscard]] const std::string& why() const { return why_; }

  /// Finds the function `name` into `function`; false, with why() set,
  /// where the library has none.
  template <typename Function>
  bool find(const char* name, Function& function) {
    function = reinterpret_cast<Function>(symbol(name));
    return function != nullptr;
  }

 private:
  void* symbol(const char* name);

  void* handle_ = nullptr;
  std::string why_;
};

}  // namespace tsa
