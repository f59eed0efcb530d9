#pragma once
// Removal of a workspace folder that may still be in use. What can go goes at once; what is held
// open goes once the work holding it has left; what still cannot be deleted is marked for deletion
// at the next restart. The lock file goes last, so that a workspace left behind still tells a later
// launcher that its owner has gone.

#include <chrono>
#include <filesystem>
#include <functional>

// How long the removal waits, after its first attempt, for the holders to leave and for the files
// they held to be let go (an extractor is given five seconds to end after terminate).
constexpr auto REMOVAL_RETRY_WAIT = std::chrono::seconds(6);

// Removes this launcher's own workspace; holdersGone tells whether work inside it is still going
// on. A folder that is no longer the user's own (see openOwnedFolder) is left with a WARN line.
// Never raises.
void removeWorkspaceFolder(const std::filesystem::path& folder,
                           const std::function<bool()>& holdersGone) noexcept;
