// Applies an "update.zip" lying in the working folder over the installation
// and deletes it.
#pragma once

namespace launcher {

void ExtractUpdateArchive();

}  // namespace launcher
