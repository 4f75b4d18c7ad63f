#pragma once

#include "removal/process_api.h"

// The lock that keeps two removals on one machine apart, whoever runs them (SYSTEM, an
// administrator, another session): two uninstallers of one installation would race on its files
// and its entry, and either run's lines could be wrong. A named mutex in the global namespace.
inline constexpr wchar_t kRemovalLockName[] = L"Global\\gs-uninstall removal";

// Holds the removal lock from Take until it goes out of scope, and gives it up then. Only a lock
// that SYSTEM or an administrator made is respected: any user may make an object of that name
// first, and one that a user who is not an administrator made (or an object of another kind, or
// one that denies this process) is not the removal lock, and keeps no run from removing; then the
// run removes without a lock to hold. Not copyable.
class RemovalLock {
 public:
  explicit RemovalLock(ProcessApi& processes) : processes_(processes) {}
  RemovalLock(const RemovalLock&) = delete;
  RemovalLock& operator=(const RemovalLock&) = delete;
  ~RemovalLock() {
    if (held_) processes_.ReleaseLock(lock_.Get());
  }

  // Takes the lock, or takes it over from a run that ended without giving it up; never waits.
  // Returns 0 when this run may remove (holding the lock, or with no lock to respect),
  // kErrorInstallAlreadyRunning when another run holds it, or the error that kept the removal
  // lock from being taken or its owner from being read: then this run must not remove.
  [[nodiscard]] Status Take();

 private:
  ProcessApi& processes_;
  OwnedHandle lock_;  // closed after the destructor has given the lock up
  bool held_ = false;
};
