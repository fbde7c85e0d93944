#pragma once

#include <QString>

namespace orvanta {

// Deletes every entry of the folder at path (hidden and read-only ones too) and, with
// recursive, every subfolder the same way; then the folder itself. A symbolic link is
// removed, never followed, so a link to elsewhere cannot widen the delete. True when the
// folder is gone.
bool removeFolderTree(const QString& path, bool recursive);

} // namespace orvanta
