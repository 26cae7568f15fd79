#include "engine/storage/catalog/VRXActiveSessions.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"

namespace vrx {

TVRXActiveSessionsFile::TVRXActiveSessionsFile(TVRXDiskPageManager& pageManager)
    : pageManager_(pageManager), file_(pageManager, ptActiveSessionList) {}

int32_t TVRXActiveSessionsFile::Create(int32_t maxConnections) {
  const int32_t firstPage = file_.Create(maxConnections);
  heldSlots_.assign(static_cast<size_t>(MaxConnections()), false);
  return firstPage;
}

void TVRXActiveSessionsFile::Open(int32_t firstPage) {
  file_.Open(firstPage);
  heldSlots_.assign(static_cast<size_t>(MaxConnections()), false);
}

int32_t TVRXActiveSessionsFile::MaxConnections() const {
  return std::min(file_.Size(), file_.AddressableSize());
}

void TVRXActiveSessionsFile::Guard() {
  RetryLock(pageManager_.LockAttempts(), pageManager_.LockSleepMs(),
            [this] { return file_.LockFile(); });
}

void TVRXActiveSessionsFile::Unguard(int32_t nativeError) {
  if (!file_.UnlockFile()) throw EVRXException("Cannot unlock sessions file", nativeError);
}

int32_t TVRXActiveSessionsFile::ConnectSession() {
  if (!pageManager_.IsMultiUser()) return 0;
  Guard();
  int32_t slot = -1;
  try {
    for (int32_t i = 0; i < MaxConnections() && slot < 0; ++i) {
      if (heldSlots_[static_cast<size_t>(i)]) continue;
      if (file_.LockByte(i)) slot = i;
    }
  } catch (...) {
    file_.UnlockFile();
    throw;
  }
  if (slot < 0) {
    file_.UnlockFile();
    throw EVRXException(
        "Cannot connect session. Maximum connections quantity exceeded or database is open in "
        "single-user mode",
        20094);
  }
  heldSlots_[static_cast<size_t>(slot)] = true;
  try {
    Unguard(20093);
  } catch (...) {
    heldSlots_[static_cast<size_t>(slot)] = false;
    file_.UnlockByte(slot);
    throw;
  }
  return slot;
}

void TVRXActiveSessionsFile::DisconnectSession(int32_t slot) {
  if (!pageManager_.IsMultiUser()) return;
  if (slot < 0 || slot >= static_cast<int32_t>(heldSlots_.size()) ||
      !heldSlots_[static_cast<size_t>(slot)])
    return;
  Guard();
  heldSlots_[static_cast<size_t>(slot)] = false;
  const bool unlocked = file_.UnlockByte(slot);
  if (!unlocked) {
    file_.UnlockFile();
    throw EVRXException("Cannot disconnect session", 20095);
  }
  Unguard(20096);
}

bool TVRXActiveSessionsFile::LockSingleUser() {
  Guard();
  bool locked = false;
  try {
    const int32_t slots = MaxConnections();
    if (!file_.IsRegionLocked(0, slots)) {
      locked = file_.LockRegion(0, slots);
      if (!locked) file_.UnlockRegion(0, slots);
    }
  } catch (...) {
    file_.UnlockFile();
    throw;
  }
  Unguard(20240);
  return locked;
}

void TVRXActiveSessionsFile::UnlockSingleUser() {
  Guard();
  try {
    file_.UnlockRegion(0, MaxConnections());
  } catch (...) {
    file_.UnlockFile();
    throw;
  }
  Unguard(20241);
}

}  // namespace vrx
