#pragma once

namespace velmoran {

// search/search.js of an archive (archive/search_index.h): the search box of index.html.
extern const char SearchScript[];

} // namespace velmoran
