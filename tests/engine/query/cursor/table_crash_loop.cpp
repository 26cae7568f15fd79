// vrx_table_crash_loop: the table workload of TableCrashWorkload.h as a
// program that can be killed at any moment.
//
//   vrx_table_crash_loop --loop DIR N   runs the workload on DIR/tables.vrx
//                                       (created when missing, else continued
//                                       after its last whole commit) up to
//                                       commit N
//   vrx_table_crash_loop --verify DIR   opens DIR/tables.vrx (recovering it),
//                                       checks it as vrxcheck does and exits
//                                       0 with "state of commit K" when T holds
//                                       exactly the records after commit K;
//                                       otherwise prints what is wrong, exit 1
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/tables/VRXDiskTableData.h"
#include "tests/engine/query/cursor/TableCrashWorkload.h"
#include "tools/vrxcheck/VRXCheck.h"

namespace {

int Loop(const std::string& dir, int32_t last) {
  const std::string file = dir + "/tables.vrx";
  vrx::TVRXDiskTableData::Register();
  if (!std::filesystem::exists(file)) {
    vrx::TVRXDiskDatabaseOptions options;
    options.fileName = file;
    vrx::TVRXDiskDatabaseData(options).CreateDatabase();
  }
  vrx::TVRXLocalSession session;
  session.databaseFileName = file;
  session.SetConnected(true);
  vrx::test::PrepareTableWorkload(session);
  vrx::test::RunTableWorkload(session, last);
  session.SetConnected(false);
  return 0;
}

int Verify(const std::string& dir) {
  const std::string file = dir + "/tables.vrx";
  vrx::TVRXDiskTableData::Register();
  vrx::test::TTableState records;
  int32_t k = -1;
  {
    vrx::TVRXLocalSession session;
    session.databaseFileName = file;
    session.SetConnected(true);
    k = vrx::test::ReadTableWorkload(session, records);
    session.SetConnected(false);
  }
  std::ostringstream report;
  if (vrx::check::CheckDatabaseFile(file, report) != vrx::check::kSound) {
    std::cout << report.str();
    return 1;
  }
  if (records != vrx::test::ReplayTableWorkload(k)) {
    std::cout << "table T does not hold the records of commit " << k << " (" << records.size()
              << " records)\n";
    return 1;
  }
  std::cout << "state of commit " << k << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--loop") == 0) return Loop(argv[2], std::stoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return Verify(argv[2]);
  } catch (const std::exception& e) {
    std::cout << "error: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "usage: vrx_table_crash_loop --loop DIR N | --verify DIR\n";
  return 2;
}
