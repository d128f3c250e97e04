// The binary keyword index of a compiled help file ($WWKeywordLinks), read as sitemap entries.
#pragma once

#include "help/ChmSitemap.h"

class CChmFile;

namespace ChmBinaryIndex {

// The keywords of the file's binary index with the pages of their topics, in the index's
// order; nothing when the file has none. Damaged blocks and records are skipped, never read
// beyond their ends.
ChmSitemap Read(const CChmFile &file);

} // namespace ChmBinaryIndex
