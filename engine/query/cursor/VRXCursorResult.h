// Result codes of the cursor's record operations (Edit, Post, Cancel,
// Delete) and the texts a dataset shows for them. The dataset layer turns a
// non-zero code into EVRXEngineError with EngineErrorText's message.
#pragma once

#include <cstdint>
#include <string>

namespace vrx {

enum TVRXCursorResult : int32_t {
  crOk = 0,
  crErrorAdding = -1,
  crErrorUpdating = -2,
  crErrorDeleting = -3,
  crModifiedOnUpdate = -4,
  crModifiedOnDelete = -5,
  crDeletedOnUpdate = -6,
  crDeletedOnDelete = -7,
  crCheckFailed = -8,
  crTemporaryUpdate = -9,
  crTemporaryDelete = -10,
  crTemporaryCancel = -11,
  crRecordLocked = -12,
  crTableLocked = -13,
};

// The text of a result code ("" for 0 and for -8, whose text is the
// message of the exception caught while checking the record).
std::string CursorResultText(int32_t code);

// "Vraxonte Engine Error # <code> <text>", the text of -8 being
// `checkMessage`.
std::string EngineErrorText(int32_t code, const std::string& checkMessage);

}  // namespace vrx
