#include "engine/storage/metadata/VRXTableMetadata.h"

#include "engine/storage/metadata/VRXMetadataIO.h"

namespace vrx {

namespace {

TVRXTableRoots ReadRoots(TVRXStream& stream) {
  TVRXTableRoots roots;
  roots.RecordIndexRoot = metaio::ReadI32(stream, metaio::kReadRecordIndexRoot);
  roots.BlobIndexRoot = metaio::ReadI32(stream, metaio::kReadBlobIndexRoot);
  return roots;
}

void WriteRoots(TVRXStream& stream, const TVRXTableRoots& roots) {
  metaio::WriteI32(stream, roots.RecordIndexRoot, metaio::kWriteRecordIndexRoot);
  metaio::WriteI32(stream, roots.BlobIndexRoot, metaio::kWriteBlobIndexRoot);
}

}  // namespace

void TVRXTableMetadata::LoadFromStream(TVRXStream& stream) {
  TVRXFieldDefs fields;
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  fields.LoadFromStream(stream);
  fields.ComputeOffsets();
  indexes.LoadFromStream(stream);
  constraints.LoadFromStream(stream);
  const TVRXTableRoots roots = ReadRoots(stream);
  fields_.Swap(fields);
  indexes_.Swap(indexes);
  constraints_.Swap(constraints);
  roots_ = roots;
}

void TVRXTableMetadata::SaveToStream(TVRXStream& stream) const {
  fields_.SaveToStream(stream);
  indexes_.SaveToStream(stream);
  constraints_.SaveToStream(stream);
  WriteRoots(stream, roots_);
}

void LoadTableMetadata(TVRXStream& stream, TVRXBaseFieldManager& fields,
                       TVRXBaseIndexManager& indexes, TVRXBaseConstraintManager& constraints,
                       TVRXTableRoots& roots) {
  fields.LoadFromStream(stream);
  indexes.LoadFromStream(stream);
  constraints.LoadFromStream(stream);
  roots = ReadRoots(stream);
}

void SaveTableMetadata(TVRXStream& stream, const TVRXBaseFieldManager& fields,
                       const TVRXBaseIndexManager& indexes,
                       const TVRXBaseConstraintManager& constraints, const TVRXTableRoots& roots) {
  fields.SaveToStream(stream);
  indexes.SaveToStream(stream);
  constraints.SaveToStream(stream);
  WriteRoots(stream, roots);
}

}  // namespace vrx
