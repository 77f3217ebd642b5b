// Putting a saved XPort record back, to the XPort it was saved from and no other.
#pragma once

#include <filesystem>

#include "update/update_session.h"

namespace fleet {

// Sends the record in the file at path back to the XPort at the address in IDC_ADDRESS,
// but only when that XPort is the one the record was saved from: it asks the XPort for its
// MAC first and refuses, with a notice naming both MACs, when they differ. A file of the
// earlier form (no MAC line) is taken to belong to the MAC its name begins with; without
// one it is refused. A refusal sends nothing and keeps the file. 1 when the XPort took the
// record (the file is then removed); 0 otherwise, after a notice.
int RestoreSavedRecord(update::UpdateSession& session, const std::filesystem::path& file);

}  // namespace fleet
