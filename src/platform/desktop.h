#pragma once
// The few desktop services the engine asks for.

#include <functional>
#include <string>

namespace qor {

// A new GUID in registry text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case,
// 16 random bytes with the version-4 bits set.
std::string NewGuidText();

// Hands a file or web address to the desktop's default program (xdg-open, spawned with an
// argument vector, never a shell). Returns at once: a value above 32 when the opener started, one
// at or below 32 when it could not be started. The opener is never waited for (it may run a
// player until the user closes it); a thread of its own reaps it, so how it exits is not known.
int ShellOpen(const std::string& target);

// Tests and front ends may replace the opener (for example to record the calls).
using ShellOpener = std::function<int(const std::string& target)>;
void SetShellOpener(ShellOpener opener);  // empty restores xdg-open

}  // namespace qor
