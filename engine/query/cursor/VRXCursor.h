// TVRXLocalCursor: the cursor over the local engine's table data objects
// (tables of a database file). The base cursor (VRXBaseCursor.h) holds the
// state; this class carries out the operations through the table data
// object shared by every cursor of the table, which it registers with
// while open.
//
// Changes: outside a transaction every Post and Delete is committed when it
// ends; inside the session's explicit transaction, or between
// BeginImplicitTransaction and its commit or rollback, nothing is
// committed until the transaction ends. The session restores the cursor's
// position when it rolls a transaction back.
//
// Navigation (the current index, ranges, distinct keys, filters, record
// counts and numbers, Locate and FindKey) is the table data object's work
// (VRXTableData.h), done under the table's lock on the cursor's state. BLOB
// streams raise "%s is not available in this engine yet" (30534) until
// they are built.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXBaseCursor.h"
#include "engine/query/cursor/VRXSession.h"
#include "engine/storage/records/VRXRecordManager.h"
#include "engine/storage/tables/VRXDiskTableData.h"

namespace vrx {

class TVRXLocalCursor final : public TVRXCursor {
 public:
  TVRXLocalCursor() = default;
  ~TVRXLocalCursor() override;

  void CreateTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                   TVRXConstraintDefs& constraints) override;
  void DeleteTable() override;
  void EmptyTable() override;
  void RenameTable(const std::string& newName) override;
  void InitFieldDefs() override;
  using TVRXCursor::OpenTable;
  // "Table not found, table name = %s" when the table does not exist.
  void OpenTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                 TVRXConstraintDefs& constraints) override;
  // A Temporary table is dropped once no other cursor uses it.
  void CloseTable() override;
  void BeginTableAccess() override;
  void EndTableAccess() override;
  // The local engine's databases are single-user: every lock is granted.
  bool LockTable(int32_t kind, int32_t attempts, int32_t delayMs) override;
  bool UnlockTable(int32_t kind, bool flag) override;
  void RenameField(const std::string& oldName, const std::string& newName) override;
  const TVRXIndexDefs& GetIndexDefs() override;
  void AddIndex(const TVRXIndexDef& definition) override;
  void DeleteIndex(const std::string& name) override;
  void DeleteAllIndexes() override;
  void CreateSortIndex(const std::vector<std::string>& fieldNames,
                       const std::vector<std::string>& directions, std::string& indexName,
                       const std::vector<std::string>& cases) override;
  void InitRecord(std::span<uint8_t> buffer, bool applyDefaults) override;
  void FreeRecordBuffer(uint8_t*& buffer) override;
  int64_t GetRecordCount() override;
  int32_t GetRecord(int32_t mode) override;
  void SetRecNo(int64_t recNo) override;
  int64_t GetRecNo() override;
  void PrepareInsert() override {}
  void Edit() override;
  void Cancel(bool wasInserting) override;
  void Post(bool isInsert) override;
  void Delete() override;
  void SetDistinct(const std::vector<std::string>& fieldNames,
                   const std::vector<std::string>& directions,
                   const std::vector<std::string>& cases) override;
  void SetFilter(const std::string& text, bool caseInsensitive, bool partialCompare) override;
  void ClearFilter() override;
  bool Locate(const std::string& keyFields, const std::vector<TVRXVariant>& keyValues,
              bool partialKey, bool caseInsensitive) override;
  bool FindKey(int32_t comparison) override;
  bool LocateValue(const std::string& fieldName, int32_t option,
                   const TVRXVariant& value) override;
  TVRXLocalBLOBStream* OpenBlob(bool isInsert, bool isEdit, int32_t mode,
                                int32_t fieldNo) override;
  void CloseBlob(int32_t fieldNo) override;
  void FreeBlobStreams(bool writableOnly) override;
  int64_t GetLastAutoincValue(int32_t physicalFieldNo) override;
  void BeginImplicitTransaction() override;
  void CommitImplicitTransaction() override;
  void RollbackImplicitTransaction() override;
  bool CheckConstraints(bool isInsert) override;

  // TVRXTableCursor
  int32_t CursorSessionID() const override;
  // The session's explicit transaction or the cursor's implicit one.
  bool SessionInTransaction() const override;
  TVRXSequenceSession& SequenceSession() override;
  std::span<uint8_t> CurrentRecordData() override;

  TVRXDiskTableData* TableData() const { return tableData_; }
  // What Locate and LocateValue share: positions on the first record, in
  // the cursor's order, that satisfies `expression` and the cursor's own
  // restrictions and reads it into the record buffer (bookmark included);
  // false leaves the position as it was.
  bool LocateBy(TVRXScanExpression& expression);

 private:
  TVRXLocalSession& RequireSession() const;
  TVRXDiskTableData& RequireTable() const;
  // The table data object of TableName, found or made by the database.
  TVRXDiskTableData& FindTableData(bool mustExist);
  // Runs a table-level request on the closed cursor; a failure closes the
  // cursor again before it is passed on.
  template <typename Request>
  void TableRequest(Request&& request);
  [[noreturn]] void NotAvailable(const char* operation) const;
  // Positions the cursor as a navigation result says and marks its record
  // buffer's bookmark.
  void TakeNavigationResult(int32_t result);
  // Reads record `id` into `record` (DataSize bytes); false when gone.
  bool FetchRecord(const TVRXRecordID& id, std::span<uint8_t> record);

  TVRXDiskTableData* tableData_ = nullptr;  // owned by the database
  std::unique_ptr<TVRXRecordBitmap> bitmap_;
  // The record Edit read, compared by Post when the caller gives no old
  // record.
  std::vector<uint8_t> editedRecord_;
  TVRXCursorPosition implicitStart_;
};

}  // namespace vrx
