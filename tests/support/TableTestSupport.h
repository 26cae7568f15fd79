// Helpers for tests that build tables through the cursor layer: a new
// database file with the disk table layer registered, a session connected
// to it, and the definitions of the sample table T that the damage, check
// and shell tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

// A new index definition in `indexes`: its name and columns (directions
// "ASC"/"DESC", cases "CASE"/"NO_CASE"), not unique.
inline vrx::TVRXIndexDef& AddIndexDef(vrx::TVRXIndexDefs& indexes, const std::string& name,
                                      const std::vector<std::string>& columns,
                                      const std::vector<std::string>& directions,
                                      const std::vector<std::string>& cases) {
  auto& index = static_cast<vrx::TVRXIndexDef&>(indexes.InternalAddCreated());
  index.SetName(name);
  index.SetColumns(columns, directions, cases);
  return index;
}

// Table T: ID AUTOINC, Name STRING(200), Body INTEGER; unique index ByID
// and plain index ByBody.
inline void DefineTableT(vrx::TVRXFieldDefs& fields, vrx::TVRXIndexDefs& indexes) {
  fields.AddField("ID", vrx::TVRXAdvancedFieldType::AutoInc);
  fields.AddField("Name", vrx::TVRXAdvancedFieldType::String, 200);
  fields.AddField("Body", vrx::TVRXAdvancedFieldType::Integer);
  AddIndexDef(indexes, "ByID", {"ID"}, {"ASC"}, {"CASE"}).SetUnique(true);
  AddIndexDef(indexes, "ByBody", {"Body"}, {"ASC"}, {"CASE"});
}

// The workload on table T, through an open cursor whose record buffer is
// `buffer`: 50 records inserted (Name "name i", Body i mod 10), then in
// storage order every seventh deleted and every third of the rest given the
// Body 100 + its position. Every operation must succeed.
inline void FillTableT(vrx::TVRXLocalCursor& cursor, std::span<uint8_t> buffer) {
  vrx::TVRXVariant v;
  for (int32_t i = 0; i < 50; ++i) {
    cursor.InitRecord(buffer, true);
    v.SetAsString("name " + std::to_string(i));
    cursor.SetFieldValue(v, 1, buffer);
    v.SetAsInteger(i % 10);
    cursor.SetFieldValue(v, 2, buffer);
    cursor.Post(true);
    EXPECT_EQ(cursor.lastResult, 0);
  }
  cursor.First();
  for (int32_t i = 0; cursor.GetRecord(vrx::TVRXReadRequest::kNext) == 0; ++i) {
    if (i % 7 == 0) {
      cursor.Delete();
    } else if (i % 3 == 0) {
      v.SetAsInteger(100 + i);
      cursor.SetFieldValue(v, 2, buffer);
      cursor.Post(false);
    }
    EXPECT_EQ(cursor.lastResult, 0);
  }
}

}  // namespace pelvaro::test
