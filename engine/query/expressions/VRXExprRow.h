// The seams between expressions and what they read or are answered from:
// a row of values that field references bind to (a cursor's record or the
// current row of a relational operator), the statement-side services the
// parser needs (LASTAUTOINC tables), and the index description that the
// navigation layer offers when it turns conditions into index ranges.
//
// The expression engine only calls these; the cursor layer, the relational
// operators and the navigation layer implement them. Implementations must
// outlive every expression bound to them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/values/VRXTypes.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

// Where a field reference found its column.
struct TVRXExprColumn {
  // The field's physical number in a cursor, the column number in an
  // operator; -1 while unbound.
  int32_t number = -1;
  // Offset of the field in the record (cursors; 0 for operators).
  int32_t offset = 0;
  TVRXAdvancedFieldType declaredType = TVRXAdvancedFieldType::Unknown;
  TVRXBaseFieldType storageType = TVRXBaseFieldType::Unknown;
  // Declared size: characters of text, bytes of BYTES; 0 otherwise.
  int32_t size = 0;
};

enum class TVRXColumnLookup : uint8_t { Found, NotFound, Ambiguous };

// A row of values: a cursor's record buffer or a relational operator's
// current row.
class TVRXExprRowSource {
 public:
  virtual ~TVRXExprRowSource() = default;

  // Resolves a reference: `table` is the qualifier as written (empty when
  // none), `field` the name. A cursor looks among its physical fields, then
  // among its visible fields (the physical field behind an alias); an
  // operator answers Ambiguous when the name fits more than one column.
  virtual TVRXColumnLookup FindColumn(std::string_view table, std::string_view field,
                                      TVRXExprColumn& column) const = 0;

  // The column's value in `record` (a record buffer of the cursor's layout;
  // nullptr: the source's current row) copied into `value`; NULL when the
  // record's null bit is set. A cursor reads MEMO fields through the
  // table's BLOB stream. Operators ignore `record`.
  virtual void ReadColumn(const TVRXExprColumn& column, const void* record,
                          TVRXVariant& value) const = 0;
};

// A field of a table opened read-only for LASTAUTOINC.
class TVRXLastAutoincSource {
 public:
  virtual ~TVRXLastAutoincSource() = default;
  virtual TVRXAdvancedFieldType FieldType() const = 0;
  // The field's last autoincrement value in this session.
  virtual void LastValue(TVRXVariant& value) const = 0;
};

// What the parser asks of the statement it parses for (the query side).
class TVRXExprQueryContext {
 public:
  virtual ~TVRXExprQueryContext() = default;
  // The statement works on in-memory tables.
  virtual bool InMemory() const = 0;
  virtual std::string DatabaseName() const = 0;
  // Opens `table` read-only (in memory when asked) and finds `field`;
  // raises "Field '%s' not found" when the table has no such field.
  virtual std::unique_ptr<TVRXLastAutoincSource> OpenLastAutoinc(std::string_view table,
                                                                 bool inMemory,
                                                                 std::string_view field) = 0;
};

// Index range conditions. The kinds select the records whose key, read as
// the left operand, stands in that relation to the key value.
enum class TVRXScanKind : uint8_t { None = 0, Equal, Less, Greater, LessOrEqual, GreaterOrEqual };

// The index a condition is tested against.
class TVRXExprIndexInfo {
 public:
  virtual ~TVRXExprIndexInfo() = default;
  // The cursor whose records the index orders: only field references bound
  // to it (not outer references) are answered from the index.
  virtual const TVRXExprRowSource& ScannedCursor() const = 0;
  virtual int32_t KeyFieldCount() const = 0;
  virtual std::string KeyFieldName(int32_t position) const = 0;
  virtual bool KeyCaseInsensitive(int32_t position) const = 0;
  virtual bool KeyDescending(int32_t position) const = 0;
  // A temporary index that another session built is not used.
  virtual bool IsTemporaryOfOtherSession(int32_t session) const = 0;
};

class TVRXExprNode;
class TVRXExpression;

// One key field of an index condition as a node describes it.
struct TVRXIndexTerm {
  // Already mirrored for a field written on the right and for a
  // descending key column.
  TVRXScanKind kind = TVRXScanKind::None;
  // The constant (or the outer reference's current value); NULL for IS NULL
  // and IS NOT NULL.
  TVRXVariant key;
  int32_t keyPosition = 0;
  const TVRXExprNode* node = nullptr;
};

// Opaque to the expression engine: the navigation layer's range condition.
class TVRXScanSearchCondition;

// Implemented by the navigation layer: builds its range conditions from the
// terms nodes hand it.
class TVRXScanConditionBuilder {
 public:
  virtual ~TVRXScanConditionBuilder() = default;
  // A new condition with one key field (key field count 1, the index's ID,
  // removable), remembering the node and expression it came from.
  virtual void AddCondition(const TVRXIndexTerm& term, const TVRXExprIndexInfo& index,
                            TVRXExpression& owner) = 0;
  // One more key field written into `condition`.
  virtual void ExtendCondition(TVRXScanSearchCondition& condition, const TVRXIndexTerm& term,
                               const TVRXExprIndexInfo& index, TVRXExpression& owner) = 0;
};

// A select-list item that field references may name by its alias.
struct TVRXSelectAlias {
  std::string alias;
  std::string table;
  std::string field;
};

}  // namespace vrx
