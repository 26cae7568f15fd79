#include "engine/query/lexer/VRXSQLParams.h"

#include <string>
#include <utility>

#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"

namespace vrx {

TVRXSQLParam& TVRXSQLParams::Items(int32_t index) {
  return const_cast<TVRXSQLParam&>(std::as_const(*this).Items(index));
}

const TVRXSQLParam& TVRXSQLParams::Items(int32_t index) const {
  if (index < 0 || index >= Count())
    throw EVRXException("List index out of bounds (%d)", {index}, kErrParamIndexOutOfBounds);
  return *items_[static_cast<size_t>(index)];
}

TVRXSQLParam& TVRXSQLParams::Add() {
  return *items_.emplace_back(std::make_unique<TVRXSQLParam>());
}

TVRXSQLParam& TVRXSQLParams::Add(std::string_view name) {
  return *items_.emplace_back(std::make_unique<TVRXSQLParam>(std::string(name)));
}

TVRXSQLParam* TVRXSQLParams::FindByName(std::string_view name) {
  return const_cast<TVRXSQLParam*>(std::as_const(*this).FindByName(name));
}

const TVRXSQLParam* TVRXSQLParams::FindByName(std::string_view name) const {
  const std::string wanted = locale::UpperCase(name);
  for (const auto& item : items_)
    if (locale::UpperCase(item->Name()) == wanted) return item.get();
  return nullptr;
}

}  // namespace vrx
