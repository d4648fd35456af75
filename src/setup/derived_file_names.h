// File names of the grids the set-up derives from an input grid (cell sizes
// and coordinates from the zone grid, slope and aspect from the elevation
// model, region weights from the region grid): the source name with its
// extension replaced by a short suffix, so the derived files sit beside
// their source.
#pragma once

#include <string>
#include <string_view>

namespace tavro {

// The source name cut before the last '.' of its file part (the text after
// the last '/'), then '.' and the suffix: "grids/zone.asc" with "$csx" gives
// "grids/zone.$csx". A file part without a '.' keeps its whole text and gets
// '.' and suffixWithoutExtension (the suffix itself when that is empty), so
// a dot in a directory never moves the derived file elsewhere:
// "grids.v2/zone" gives "grids.v2/zone.$csx", "../zone" gives "../zone.$csx".
std::string DerivedFileName(std::string_view source, std::string_view suffix,
                            std::string_view suffixWithoutExtension = {});

} // namespace tavro
