#include "engine/query/cursor/VRXBaseCursor.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/query/cursor/VRXCursorFilter.h"
#include "engine/query/cursor/VRXLocalBLOBStream.h"
#include "engine/query/expressions/VRXExpression.h"
#include "engine/storage/records/VRXRecord.h"
#include "engine/values/VRXConverts.h"

namespace vrx {

TVRXCursor::TVRXCursor() = default;
TVRXCursor::~TVRXCursor() = default;

TVRXRecordBuffer::~TVRXRecordBuffer() {
  try {
    cursor_.FreeRecordBuffer(data_);
  } catch (...) {
    // An overrun ends the process in the memory manager; nothing else can
    // fail here.
  }
}

// --- virtual operations the base carries out ---------------------------------------------

void TVRXCursor::RenameField(const std::string& oldName, const std::string& newName) {
  const int32_t physical = physicalFieldDefs.IndexOfName(oldName);
  if (physical < 0) throw EVRXException("Field '%s' not found", {oldName}, 30545);
  const int32_t taken = physicalFieldDefs.IndexOfName(newName);
  if (taken >= 0 && taken != physical)
    throw EVRXException("Cannot rename field '%s'. Field '%s' already exists", {oldName, newName},
                        30546);
  physicalFieldDefs.Field(physical).SetName(newName);
  for (size_t i = 0; i < physicalOf_.size(); ++i)
    if (physicalOf_[i] == physical && !projectionSet)
      fieldDefs.Field(static_cast<int32_t>(i)).SetName(newName);
}

const TVRXIndexDefs& TVRXCursor::GetIndexDefs() { return indexDefs; }

void TVRXCursor::FreeRecordBuffer(uint8_t*& buffer) {
  TVRXMemoryManager::Instance().FreeAndNil(buffer);
}

void TVRXCursor::First() {
  atBOF = true;
  atEOF = false;
}

void TVRXCursor::Last() {
  atBOF = false;
  atEOF = true;
}

// --- non-virtual operations -------------------------------------------------------------------

void TVRXCursor::OpenTable() {
  TVRXFieldDefs fields;
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  OpenTable(fields, indexes, constraints);
}

void TVRXCursor::SetIndex(const std::string& name) {
  indexName = name;
  const int32_t position = name.empty() ? -1 : indexDefs.IndexOfName(name);
  indexID = position < 0 ? -1 : indexDefs.Item(position).ID();
  positionCache.Invalidate();
  InvalidateRecordBitmap();
}

uint8_t* TVRXCursor::AllocRecordBuffer() const {
  if (recordBufferSize <= 0) throw EVRXException("Pointer is nil", 30547);
  return static_cast<uint8_t*>(TVRXMemoryManager::Instance().GetMem(recordBufferSize));
}

void TVRXCursor::ClearRecordBuffer(std::span<uint8_t> buffer) {
  const size_t clear = std::min(buffer.size(), static_cast<size_t>(bookmarkEnd));
  std::fill(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(clear), 0);
  InitRecord(buffer, false);
}

int32_t TVRXCursor::PhysicalFieldNo(int32_t fieldNo) const {
  if (fieldNo < 0 || fieldNo >= fieldDefs.Count() ||
      static_cast<size_t>(fieldNo) >= physicalOf_.size())
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, fieldDefs.Count()}, 10000);
  return physicalOf_[static_cast<size_t>(fieldNo)];
}

bool TVRXCursor::GetFieldData(int32_t fieldNo, void* destination,
                              std::span<const uint8_t> record) const {
  return vrx::GetFieldValue(PhysicalFieldNo(fieldNo), physicalFieldDefs, destination, record);
}

void TVRXCursor::SetFieldData(int32_t fieldNo, const void* source,
                              std::span<uint8_t> record) const {
  vrx::SetFieldValue(PhysicalFieldNo(fieldNo), physicalFieldDefs, source, record);
}

bool TVRXCursor::GetFieldValue(TVRXVariant& value, int32_t fieldNo, bool physical,
                               std::span<const uint8_t> record) const {
  if (physical && (fieldNo < 0 || fieldNo >= physicalFieldDefs.Count()))
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, physicalFieldDefs.Count()}, 10000);
  const int32_t number = physical ? fieldNo : PhysicalFieldNo(fieldNo);
  const TVRXFieldDef& field = physicalFieldDefs.Field(number);
  value.Clear(field.StorageType());
  if (!vrx::GetFieldValue(number, physicalFieldDefs, nullptr, record)) {
    value.SetNull();
    return false;
  }
  if (field.IsBlob()) return true;
  value.SetData(record.data() + field.MemoryOffset(), field.MemorySize(), true,
                field.StorageType());
  return true;
}

void TVRXCursor::SetFieldValue(const TVRXVariant& value, int32_t fieldNo,
                               std::span<uint8_t> record, bool physical) const {
  if (physical && (fieldNo < 0 || fieldNo >= physicalFieldDefs.Count()))
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, physicalFieldDefs.Count()}, 10004);
  const int32_t number = physical ? fieldNo : PhysicalFieldNo(fieldNo);
  const TVRXFieldDef& field = physicalFieldDefs.Field(number);
  if (record.size() < static_cast<size_t>(field.MemoryOffset() + field.MemorySize()))
    throw EVRXException("Invalid record buffer size %d. Should be at least %d",
                        {record.size(), field.MemoryOffset() + field.MemorySize()}, 30539);
  if (value.IsNull()) {
    vrx::SetFieldValue(number, physicalFieldDefs, nullptr, record);
    return;
  }
  const TVRXConvertedValue converted = ConvertValueToLength(
      value.Data(), value.DataSize(), value.DataType(), field.StorageType(), field.Size());
  std::vector<uint8_t> bytes(static_cast<size_t>(field.MemorySize()), 0);
  std::memcpy(bytes.data(), converted.Data.get(),
              static_cast<size_t>(std::min(converted.Size, field.MemorySize())));
  // The bytes are already in the field's storage type: the widened forms
  // of the dataset's representation do not apply here.
  const bool empty = IsTextType(field.StorageType()) &&
                     (IsWideTextType(field.StorageType())
                          ? (bytes.size() < 2 || (bytes[0] | bytes[1]) == 0)
                          : bytes[0] == 0);
  if (empty) {
    vrx::SetFieldValue(number, physicalFieldDefs, nullptr, record);
    return;
  }
  std::memcpy(record.data() + field.MemoryOffset(), bytes.data(), bytes.size());
  SetFieldNull(record, number, false);
}

void TVRXCursor::RestorePosition(const TVRXCursorPosition& position) {
  atBOF = position.atBOF;
  atEOF = position.atEOF;
  currentRecordID = position.recordID;
}

void TVRXCursor::SetRange(std::vector<uint8_t> startKey, std::vector<uint8_t> endKey,
                          bool endExclusive, bool startExclusive, int32_t endFieldCount,
                          int32_t startFieldCount) {
  rangeStartKey = std::move(startKey);
  rangeEndKey = std::move(endKey);
  rangeEndExclusive = endExclusive;
  rangeStartExclusive = startExclusive;
  rangeEndFieldCount = endFieldCount;
  rangeStartFieldCount = startFieldCount;
  InvalidateRecordBitmap();
}

void TVRXCursor::CancelRange() {
  rangeStartKey.clear();
  rangeEndKey.clear();
  rangeStartExclusive = rangeEndExclusive = false;
  rangeStartFieldCount = rangeEndFieldCount = 0;
  InvalidateRecordBitmap();
}

void TVRXCursor::SetExtraFilter(std::unique_ptr<TVRXExpression> expression) {
  // Bound before it replaces the old one: a name that does not resolve
  // leaves the cursor as it was.
  if (expression != nullptr) expression->BindToCursor(this);
  extraFilterScan_.reset();
  extraFilter = std::move(expression);
  WrapperOf(extraFilter.get(), extraFilterScan_);
  InvalidateRecordBitmap();
}

TVRXScanExpression* TVRXCursor::WrapperOf(TVRXExpression* expression,
                                          std::unique_ptr<TVRXCursorFilter>& wrapper) {
  if (expression == nullptr) {
    wrapper.reset();
    return nullptr;
  }
  if (wrapper == nullptr || &wrapper->Expression() != expression)
    wrapper = std::make_unique<TVRXCursorFilter>(*expression, *this);
  return wrapper.get();
}

TVRXScanExpression* TVRXCursor::FilterExpression() { return WrapperOf(filter.get(), filterScan_); }

TVRXScanExpression* TVRXCursor::ExtraFilterExpression() {
  return WrapperOf(extraFilter.get(), extraFilterScan_);
}

bool TVRXCursor::FilterCallbackAccepts(std::span<const uint8_t> record) {
  return !onFilterRecord || onFilterRecord(filterContext, record);
}

TVRXColumnLookup TVRXCursor::FindColumn(std::string_view, std::string_view field,
                                        TVRXExprColumn& column) const {
  int32_t physical = physicalFieldDefs.IndexOfName(field);
  if (physical < 0) {
    const int32_t visible = fieldDefs.IndexOfName(field);
    if (visible < 0 || static_cast<size_t>(visible) >= physicalOf_.size())
      return TVRXColumnLookup::NotFound;
    physical = physicalOf_[static_cast<size_t>(visible)];
  }
  const TVRXFieldDef& definition = physicalFieldDefs.Field(physical);
  column.number = physical;
  column.offset = definition.MemoryOffset();
  column.declaredType = definition.DeclaredType();
  column.storageType = definition.StorageType();
  column.size = definition.Size();
  return TVRXColumnLookup::Found;
}

void TVRXCursor::ReadColumn(const TVRXExprColumn& column, const void* record,
                            TVRXVariant& value) const {
  // GetFieldValue refuses a field number outside the physical fields.
  const size_t size = static_cast<size_t>(dataSize);
  std::span<const uint8_t> data;
  if (record != nullptr)
    data = {static_cast<const uint8_t*>(record), size};
  else if (recordBuffer.size() >= size)
    data = recordBuffer.first(size);
  else
    throw EVRXException("Pointer is nil", 30547);  // no record buffer to read
  // A BLOB value is only known to be present: its data is not read yet.
  if (GetFieldValue(value, column.number, true, data) &&
      physicalFieldDefs.Field(column.number).IsBlob())
    throw EVRXException("%s is not available in this engine yet",
                        {"Reading a BLOB or MEMO field in an expression"}, 30534);
}

void TVRXCursor::SetProjection(const std::vector<std::string>& fieldNames,
                               const std::vector<std::string>& aliases) {
  if (fieldNames.size() != aliases.size())
    throw EVRXException("Error - different lists length. L1 = %d, L2 = %d",
                        {static_cast<int32_t>(fieldNames.size()),
                         static_cast<int32_t>(aliases.size())},
                        30548);
  if (fieldNames.empty())
    throw EVRXException("No fields were specified while setting projection", 30549);
  TVRXFieldDefs visible;
  std::vector<int32_t> physicalOf;
  for (size_t i = 0; i < fieldNames.size(); ++i) {
    const int32_t physical = physicalFieldDefs.IndexOfName(fieldNames[i]);
    if (physical < 0) throw EVRXException("Cannot find field %s", {fieldNames[i]}, 30550);
    std::unique_ptr<TVRXMetaObjectDef> copy = physicalFieldDefs.Field(physical).Clone();
    std::string name = aliases[i].empty() ? physicalFieldDefs.Field(physical).Name() : aliases[i];
    if (!aliases[i].empty()) {
      // One more try than there are names always finds a free one.
      for (size_t n = 1; visible.IndexOfName(name) >= 0 && n <= fieldNames.size() + 1; ++n)
        name = aliases[i] + "_" + std::to_string(n);
    }
    copy->SetName(name);
    visible.Insert(visible.Count(), std::move(copy));
    physicalOf.push_back(physical);
  }
  fieldDefs.Swap(visible);
  physicalOf_ = std::move(physicalOf);
  projectionSet = true;
  InvalidateRecordBitmap();
}

std::string TVRXCursor::LastResultMessage() const {
  return lastResult == crOk ? std::string() : EngineErrorText(lastResult, lastErrorText);
}

void TVRXCursor::InvalidateRecordBitmap() {
  if (recordBitmap != nullptr) recordBitmap->Reset();
}

void TVRXCursor::ComputeSizes() {
  const int32_t count = physicalFieldDefs.Count();
  firstFieldOffset = count > 0 ? physicalFieldDefs.Field(0).MemoryOffset() : 0;
  const int64_t size =
      count > 0 ? int64_t{physicalFieldDefs.Field(count - 1).MemoryOffset()} +
                      physicalFieldDefs.Field(count - 1).MemorySize()
                : 0;
  const int64_t limit = std::numeric_limits<int32_t>::max() - (kRecordIDSize + 1);
  if (size > limit)
    throw EVRXException("Record size %d exceeds the limit of %d bytes", {size, limit}, 30551);
  dataSize = static_cast<int32_t>(size);
  bookmarkEnd = dataSize + kRecordIDSize;
  recordBufferSize = dataSize + kRecordIDSize + 1;
  compareSize = recordBufferSize;
}

}  // namespace vrx
