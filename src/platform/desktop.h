#pragma once
// The few desktop services the engine asks for.

#include <functional>
#include <string>

namespace qor {

// A new GUID in registry text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case,
// 16 random bytes with the version-4 bits set.
std::string NewGuidText();

// Hands a file or web address to the desktop's default program (xdg-open, spawned with an
// argument vector, never a shell). Returns a value above 32 on success and one at or below 32
// when the spawn failed or the opener exited with a failure, as the original shell call did.
int ShellOpen(const std::string& target);

// Tests and front ends may replace the opener (for example to record the calls).
using ShellOpener = std::function<int(const std::string& target)>;
void SetShellOpener(ShellOpener opener);  // empty restores xdg-open

}  // namespace qor
