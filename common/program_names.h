#pragma once
// The file names of the programs that ship together in the program folder.
// Programs are started by these bare names (see ProgramLauncher), so the
// folder they were installed into does not matter.

namespace kirasol::programs {
inline constexpr const char kPlayer[] = "kirasol-radio";
inline constexpr const char kUpdater[] = "kirasol-update";
inline constexpr const char kTvPlayer[] = "vidora";
}  // namespace kirasol::programs
