// Clears the updater's leftovers out of the installation's temp folder and
// moves a staged update archive up into the installation as "update.zip".
#pragma once

namespace launcher {

void PlaceStagedUpdate();

}  // namespace launcher
