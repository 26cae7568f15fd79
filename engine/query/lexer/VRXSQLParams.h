// TVRXSQLParams: the parameter values of an SQL script. The query component
// fills one before the script is lexed; the lexer binds every parameter
// marker of the script to one of its items (TVRXLexer), copying the value.
//
// Ownership: the list owns its parameters; references returned by Add and
// Items stay valid until the parameter is removed by Clear or the list is
// destroyed. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/values/VRXVariant.h"

namespace vrx {

// Native error number of an index outside the parameter list.
inline constexpr int32_t kErrParamIndexOutOfBounds = 30063;

class TVRXSQLParams {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  // The parameter at `index`; outside 0..Count()-1 raises "List index out
  // of bounds (%d)" (30063) with the index.
  TVRXSQLParam& Items(int32_t index);
  const TVRXSQLParam& Items(int32_t index) const;

  // Appends an untyped NULL parameter without a name and returns it.
  TVRXSQLParam& Add();
  // Appends an untyped NULL parameter named `name` and returns it.
  TVRXSQLParam& Add(std::string_view name);

  // Frees every parameter.
  void Clear() { items_.clear(); }

  // The first parameter whose name equals `name` once both are upper-cased
  // by the locale's rules (platform/locale), or nullptr.
  TVRXSQLParam* FindByName(std::string_view name);
  const TVRXSQLParam* FindByName(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TVRXSQLParam>> items_;
};

}  // namespace vrx
