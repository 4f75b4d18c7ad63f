#include "removal/removal_lock.h"

Status RemovalLock::Take() {
  const Status opened = processes_.OpenLock(kRemovalLockName, &lock_);
  // The removal lock lets SYSTEM and administrators at it, and only an administrator can make
  // one: an object of that name that denies this run, or that is no mutex, was made by someone
  // else; and a run that may not make the lock is no administrator, whose lock no one respects.
  if (opened == kErrorAccessDenied || opened == kErrorInvalidHandle || opened == kErrorInvalidOwner)
    return kSuccess;
  if (opened != kSuccess) return opened;
  bool byAdministrators;  // written by a question that is answered
  const Status owner = processes_.LockOwnedByAdministrators(lock_.Get(), &byAdministrators);
  if (owner != kSuccess) return owner;
  if (!byAdministrators) return kSuccess;
  const Status taken = processes_.TryLock(lock_.Get());
  if (taken == kWaitTimeout) return kErrorInstallAlreadyRunning;
  held_ = taken == kSuccess;
  return taken;
}
