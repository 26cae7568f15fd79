// Damaged catalogs: a few hundred mutations of the system directory, the
// session slot file, the table list and the tables' metadata files (flipped
// bits, chains cut or bent back, counts, sizes and page numbers set to
// extremes). Each damaged file is opened and read through the catalog: only
// engine errors may come out, never a crash, a hang or a sanitizer report.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/catalog/VRXTableFiles.h"
#include "engine/storage/compression/VRXCompression.h"
#include "tests/engine/storage/catalog/CatalogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;
using test::DataAt;
using test::PageAt;

struct Sample {
  std::vector<uint8_t> bytes;
  std::vector<int32_t> catalogPages;   // directory, slot file, table list chain
  std::vector<int32_t> metadataPages;  // first pages of the tables' metadata files
};

// A database whose table list spans two pages and whose tables have
// metadata of twelve fields each.
Sample MakeSample() {
  TVRXDiskDatabaseOptions options;
  options.fileName = "sample.vrx";
  TVRXDiskDatabaseData db(options);
  db.CreateDatabase();
  TVRXDatabaseSession session;
  db.AddSession(session);
  Sample sample;
  for (int i = 0; i < 16; ++i) {
    TVRXTableMetadata metadata;
    for (int j = 0; j < 12; ++j)
      metadata.Fields().AddField(
          "field" + std::to_string(j),
          j % 2 == 0 ? TVRXAdvancedFieldType::Integer : TVRXAdvancedFieldType::String,
          j % 2 == 0 ? 0 : 20 + j);
    const TVRXTableEntry entry = db.CreateTableFiles(
        "table" + std::to_string(i),
        [&](TVRXInternalDBTransactedAccessFile& file, TVRXInternalDBTransactedAccessFile&) {
          WriteTableMetadata(file, kSystemSessionID, metadata);
        });
    sample.metadataPages.push_back(entry.metadataPage);
  }
  sample.catalogPages = {2, 3};
  int32_t page = 4;
  while (page != -1) {
    sample.catalogPages.push_back(page);
    TVRXPageGuard guard(*db.DiskPageManager(), db.DiskPageManager()->GetPage(0, page, ptTableList));
    page = guard->NextPage();
  }
  db.RemoveSession(session);
  sample.bytes = ReadAll("sample.vrx");
  return sample;
}

// Opens the database and reads everything the catalog leads to.
void ReadCatalog(const std::string& name) {
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  TVRXDiskDatabaseData db(options);
  TVRXDatabaseSession session;
  db.AddSession(session);
  try {
    std::vector<std::string> names;
    db.GetTablesList(names);
    for (const TVRXTableEntry& entry : db.TableList()->Entries()) {
      TVRXInternalDBTransactedAccessFile file(*db.DiskPageManager(), ptTableMetaData,
                                              entry.metadataPage);
      TVRXTableMetadata metadata;
      ReadTableMetadata(file, 0, metadata);
      TVRXInternalDBDirectAccessFile locks(*db.DiskPageManager(), ptTableLocks);
      locks.Open(entry.lockFilePage);
      uint8_t byte = 0;
      locks.DirectReadBuffer(&byte, 1, locks.AddressableSize() - 1);
    }
  } catch (...) {
    db.RemoveSession(session);
    throw;
  }
  db.RemoveSession(session);
}

TEST(CatalogCorruptionTest, DamagedCatalogPagesGiveEngineErrorsOnly) {
  const Sample sample = MakeSample();
  ASSERT_GE(sample.catalogPages.size(), 4u);  // the table list has two pages
  ReadCatalog("sample.vrx");

  std::mt19937 random(20240611);
  const int32_t extremes[] = {0, 1, -1, -2, 2, 3, 0x7FFFFFFF, INT32_MIN, 0x7FFFFFF0, 4046, 4047};
  struct Mutant {
    std::string what;
    std::vector<uint8_t> bytes;
    bool noticed;  // damage that reading the catalog must report
  };
  std::vector<Mutant> mutants;
  auto mutant = [&](const std::string& what, auto change, bool noticed = false) {
    auto bytes = sample.bytes;
    change(bytes);
    mutants.push_back({what, std::move(bytes), noticed});
  };
  std::vector<int32_t> pages = sample.catalogPages;
  pages.insert(pages.end(), sample.metadataPages.begin(), sample.metadataPages.begin() + 3);
  for (int32_t page : pages) {
    const std::string at = "page " + std::to_string(page);
    // Extremes in the next-page field and the file header's sizes.
    for (int32_t value : extremes) {
      for (int offset : {10}) {
        mutant(at + " next=" + std::to_string(value),
               [&](auto& b) { bytes::StoreI32(&b[PageAt(page) + offset], value); });
      }
      for (int offset : {1, 5}) {
        mutant(at + " size field " + std::to_string(offset) + "=" + std::to_string(value),
               [&](auto& b) { bytes::StoreI32(&b[DataAt(page) + offset], value); });
      }
    }
    for (uint8_t algorithm : {1, 2, 3, 4, 255})
      mutant(at + " algorithm " + std::to_string(algorithm),
             [&](auto& b) { b[DataAt(page) + 9] = algorithm; });
    mutant(
        at + " type", [&](auto& b) { b[PageAt(page) + 8] ^= 0x01; }, true);
    // Flipped bits in the header and the first bytes of the data.
    for (int i = 0; i < 12; ++i) {
      const int64_t offset = PageAt(page) + static_cast<int64_t>(random() % 360);
      const uint8_t bit = static_cast<uint8_t>(1u << (random() % 8));
      mutant(at + " bit at " + std::to_string(offset),
             [&](auto& b) { b[static_cast<size_t>(offset)] ^= bit; });
    }
  }
  // Entries: directory first pages, table list page numbers and name lengths.
  for (int32_t value : extremes) {
    for (int entry : {0, 1})
      mutant("directory entry " + std::to_string(entry) + "=" + std::to_string(value),
             [&](auto& b) { bytes::StoreI32(&b[DataAt(2) + 10 + entry * 5 + 1], value); });
    for (int field : {256, 260, 264, 268})
      mutant("table entry field " + std::to_string(field) + "=" + std::to_string(value),
             [&](auto& b) { bytes::StoreI32(&b[DataAt(4) + 10 + 272 + field], value); });
  }
  for (uint8_t id : {0, 1, 2, 3, 255})
    mutant("directory id " + std::to_string(id), [&](auto& b) { b[DataAt(2) + 10] = id; });
  mutant("name length 255", [&](auto& b) { b[DataAt(4) + 10] = 255; });
  mutant(
      "whole directory zero", [&](auto& b) { std::memset(&b[PageAt(2)], 0, test::kPage); }, true);
  mutant("whole table list random", [&](auto& b) {
    for (int i = 0; i < test::kPage; ++i) b[PageAt(4) + i] = static_cast<uint8_t>(random());
  });
  // Chains bent back onto themselves or into another file's chain. Only the
  // pages a file's size needs are read, so a bend after them is left to
  // vrxcheck.
  mutant(
      "table list loops", [&](auto& b) { bytes::StoreI32(&b[PageAt(4) + 10], 4); }, true);
  mutant(
      "table list into directory", [&](auto& b) { bytes::StoreI32(&b[PageAt(4) + 10], 2); }, true);
  mutant("last table list page loops",
         [&](auto& b) { bytes::StoreI32(&b[PageAt(sample.catalogPages.back()) + 10], 4); });
  mutant("metadata into table list",
         [&](auto& b) { bytes::StoreI32(&b[PageAt(sample.metadataPages[0]) + 10], 4); });
  ASSERT_GE(mutants.size(), 300u);

  int engineErrors = 0;
  for (const Mutant& m : mutants) {
    SCOPED_TRACE(m.what);
    WriteAll("bad.vrx", m.bytes);
    bool failed = false;
    try {
      ReadCatalog("bad.vrx");
    } catch (const EVRXException&) {
      failed = true;
      ++engineErrors;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not an engine error: " << e.what();
    }
    if (m.noticed) {
      EXPECT_TRUE(failed);
    }
  }
  // Many mutations change bytes nothing reads (reserved header fields,
  // bytes past a file's end); the others must have reached the error paths.
  EXPECT_GT(engineErrors, 150);
}

}  // namespace
}  // namespace vrx
