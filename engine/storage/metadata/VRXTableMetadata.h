// The content of a table's metadata file: the field list, the index list,
// the constraint list, the root page of the record page index and the
// root page of the BLOB page index (-1 when the table has no BLOB field),
// in that order. The internal file that holds it compresses it (ZLIB,
// level 1); these functions see the plain bytes.
//
// Two entry points:
//   - TVRXTableMetadata holds the three lists and the two roots on their
//     own, for readers that need no open table (the integrity check, the
//     catalog's tools);
//   - LoadTableMetadata / SaveTableMetadata fill and read the managers of
//     an open table (the table data object, when the first cursor opens
//     the table and whenever its definitions change).
// Read and write failures are EVRXException with the checked stream
// messages and the number of the piece being read or written.
#pragma once

#include <cstdint>

#include "engine/storage/metadata/VRXConstraintDef.h"
#include "engine/storage/metadata/VRXConstraintManager.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXFieldManager.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/storage/metadata/VRXIndexManager.h"

namespace vrx {

struct TVRXTableRoots {
  int32_t RecordIndexRoot = -1;
  int32_t BlobIndexRoot = -1;
};

class TVRXTableMetadata {
 public:
  // Replaces the content; on failure the content is as it was. The field
  // layout is computed, so a field the engine cannot lay out fails here.
  void LoadFromStream(TVRXStream& stream);
  void SaveToStream(TVRXStream& stream) const;

  TVRXFieldDefs& Fields() { return fields_; }
  const TVRXFieldDefs& Fields() const { return fields_; }
  TVRXIndexDefs& Indexes() { return indexes_; }
  const TVRXIndexDefs& Indexes() const { return indexes_; }
  TVRXConstraintDefs& Constraints() { return constraints_; }
  const TVRXConstraintDefs& Constraints() const { return constraints_; }
  TVRXTableRoots& Roots() { return roots_; }
  const TVRXTableRoots& Roots() const { return roots_; }

 private:
  TVRXFieldDefs fields_;
  TVRXIndexDefs indexes_;
  TVRXConstraintDefs constraints_;
  TVRXTableRoots roots_;
};

// The metadata file of an open table, read into (written from) its
// managers and `roots`. Each manager keeps what it held when its own part
// fails to load.
void LoadTableMetadata(TVRXStream& stream, TVRXBaseFieldManager& fields,
                       TVRXBaseIndexManager& indexes, TVRXBaseConstraintManager& constraints,
                       TVRXTableRoots& roots);
void SaveTableMetadata(TVRXStream& stream, const TVRXBaseFieldManager& fields,
                       const TVRXBaseIndexManager& indexes,
                       const TVRXBaseConstraintManager& constraints, const TVRXTableRoots& roots);

}  // namespace vrx
