// Writes a file so that its path always names either the complete old file
// or the complete new one, whenever the writer or the system stops: the
// content goes to a unique temporary file in the same directory, which is
// synced and then renamed over the path; the directory is synced last.
#pragma once

#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include "support/Function.h"

namespace Keldra {

enum class AtomicWriteStep {
    TemporaryCreated,
    ContentWritten,
    ContentSynced,
    TemporaryClosed,
    Installed,
    DirectorySynced,
};

enum class AtomicWriteMode {
    ReplaceExisting,
    // Fails when the path exists.
    CreateNew,
};

// Called after each step. A returned error counts as the failure of that
// step; tests inject failures and crashes through it.
using AtomicWriteObserver = Oru::function<boost::system::error_code(AtomicWriteStep)>;

// The file gets the mode 0600 whatever the umask. Returns an error when the
// path still names the old file (or nothing, for CreateNew); the temporary
// file is then removed. A failure to sync the directory after the rename is
// logged and not returned: the new content is in place.
boost::system::error_code WriteFileAtomically(const boost::filesystem::path& path, const std::string& content,
                                              AtomicWriteMode mode, const AtomicWriteObserver& observer = {});

}  // namespace Keldra
