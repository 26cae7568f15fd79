#include "engine/query/cursor/VRXCursorResult.h"

namespace vrx {

std::string CursorResultText(int32_t code) {
  switch (code) {
    case crErrorAdding: return "Error adding record";
    case crErrorUpdating: return "Error updating record";
    case crErrorDeleting: return "Error deleting record";
    case crModifiedOnUpdate: return "Error updating record - record was modified by other process";
    case crModifiedOnDelete: return "Error deleting record - record was modified by other process";
    case crDeletedOnUpdate: return "Error updating record - record was deleted by other process";
    case crDeletedOnDelete: return "Error deleting record - record was deleted by other process";
    case crTemporaryUpdate: return "Cannot update record in temporary mode";
    case crTemporaryDelete: return "Cannot delete record in temporary mode";
    case crTemporaryCancel: return "Cannot cancel operation in temporary mode";
    case crRecordLocked: return "Record is locked";
    case crTableLocked: return "Table is locked";
    default: return "";
  }
}

std::string EngineErrorText(int32_t code, const std::string& checkMessage) {
  return "Vraxonte Engine Error # " + std::to_string(code) + " " +
         (code == crCheckFailed ? checkMessage : CursorResultText(code));
}

}  // namespace vrx
