// Helpers for tests that build tables through the cursor layer: a new
// database file with the disk table layer registered, a session connected
// to it, and the definitions of the sample table T that the damage, check
// and shell tests share.
#pragma once

#include <string>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/tables/VRXDiskTableData.h"

namespace pelvaro::test {

// A new, empty database file `name`; the disk table layer is registered.
inline void CreateDatabaseFile(const std::string& name) {
  vrx::TVRXDiskTableData::Register();
  vrx::TVRXDiskDatabaseOptions options;
  options.fileName = name;
  vrx::TVRXDiskDatabaseData(options).CreateDatabase();
}

inline void ConnectSession(vrx::TVRXLocalSession& session, const std::string& name) {
  session.databaseFileName = name;
  session.SetConnected(true);
}

// Table T: ID AUTOINC, Name STRING(200), Body INTEGER; unique index ByID
// and plain index ByBody.
inline void DefineTableT(vrx::TVRXFieldDefs& fields, vrx::TVRXIndexDefs& indexes) {
  fields.AddField("ID", vrx::TVRXAdvancedFieldType::AutoInc);
  fields.AddField("Name", vrx::TVRXAdvancedFieldType::String, 200);
  fields.AddField("Body", vrx::TVRXAdvancedFieldType::Integer);
  auto& unique = static_cast<vrx::TVRXIndexDef&>(indexes.InternalAddCreated());
  unique.SetName("ByID");
  unique.SetColumns({"ID"}, {"ASC"}, {"CASE"});
  unique.SetUnique(true);
  auto& plain = static_cast<vrx::TVRXIndexDef&>(indexes.InternalAddCreated());
  plain.SetName("ByBody");
  plain.SetColumns({"Body"}, {"ASC"}, {"CASE"});
}

}  // namespace pelvaro::test
