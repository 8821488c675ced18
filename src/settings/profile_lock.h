// ProfileLock: the process-wide guard that marks the settings store busy around each backend call.
#pragma once

namespace ocelo {

/// The settings store's guard. The store is called from the user-interface thread, but the guard is a real
/// recursive lock all the same: it excludes other threads and lets a holder take it again (the INI path
/// resolution and the backend operations may nest).
class ProfileLock {
 public:
  static void Lock();
  static void Unlock();
  /// True while some call holds the guard.
  static bool Busy();
};

/// Holds the ProfileLock for one scope.
class ProfileLockScope {
 public:
  ProfileLockScope() { ProfileLock::Lock(); }
  ~ProfileLockScope() { ProfileLock::Unlock(); }
  ProfileLockScope(const ProfileLockScope&) = delete;
  ProfileLockScope& operator=(const ProfileLockScope&) = delete;
};

}  // namespace ocelo
