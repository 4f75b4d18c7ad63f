#pragma once

#include "removal/process_api.h"

// Which Windows the tool runs on, as far as it matters to the tool: whether the two registry views
// are one, and which system folder the tool sees as its own.
enum class WindowsKind {
  // 32-bit Windows: one registry, which both views read, and one system folder.
  Windows32,
  // 64-bit Windows (x86-64 or ARM64) with the tool a 64-bit process, or a Windows that would not
  // say which it is: two views, and the system folder the tool sees is taken as it is.
  Windows64,
  // 64-bit Windows with the tool a 32-bit process under WOW64: two views, and the system folder it
  // sees is the 32-bit one; the 64-bit one is "Sysnative" under the Windows folder.
  Windows64Wow64,
};

// Asks the platform once which Windows this is. IsWow64Process2 (Windows 10 version 1511 and
// later) names the native machine: x86 is 32-bit Windows, any other is 64-bit. Without it,
// IsWow64Process: a 32-bit process outside WOW64 is on 32-bit Windows (a 64-bit process never
// is). Where neither answers, the views are taken as two, so that no installation of the other
// view is passed over.
WindowsKind TellWindows(ProcessApi& processes);
