// The multilayer land-use table: types whose code stands in the grid "landuse"
// for several land-use layers, each layer a code of the land-use table, with
// the type's extinction coefficient and leaf-area scale. Read from the
// optional section "[multilayer_landuse]"; every type has the same number of
// layers. Failures end the run with exit code 110 (a type cannot be read),
// 111 (differing layer counts) or 112 (a type's first line lacks
// "Landuse_Layers").
#pragma once

#include "kernel/one_based_array.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

class ControlFileReader;
class DiagnosticsLog;

namespace multilayer {

inline constexpr int ReadFailure = 110;
inline constexpr int LayerCountMismatch = 111;
inline constexpr int LayersKeyMissing = 112;

inline constexpr double DefaultExtinction = 0.3;
inline constexpr double DefaultLaiScale = 10.0;

} // namespace multilayer

class multilayer_landuse_class {
public:
  static constexpr std::size_t MaxNameLength = 199;

  multilayer_landuse_class() = default;
  // A record whose code is its position in the table until a type is read.
  explicit multilayer_landuse_class(int code) : Code(code), CodeAsRead(code) {}

  std::string Name;
  int Code = 0; // record 0 of a table: the number of types
  // Land-use codes of the layers, layer 1 first; element 0 holds LayerCount.
  OneBasedArray<int> LayerCodes;
  int LayerCount = 1;
  // The codes as read, kept beside the working copies that the code check
  // may replace by renumbered codes.
  OneBasedArray<int> LayerCodesAsRead;
  int CodeAsRead = 0;
  double k_extinct = multilayer::DefaultExtinction;
  double LAI_scale = multilayer::DefaultLaiScale;
};

using MultilayerLanduseTable = OneBasedArray<multilayer_landuse_class>;

// Reads "[multilayer_landuse]" from the open control-file copy; nullopt when
// the section is missing. A count below 1 gives the table of record 0 alone,
// whose Code is the count. The soil-model variant is taken so that the set-up
// calls every table reader alike; it does not change the format.
std::optional<MultilayerLanduseTable>
ReadMultilayerLanduseTable(ControlFileReader &reader, DiagnosticsLog &log, int soilModelVariant);

// Parses the text of one type (its lines joined, line breaks kept) into
// record, whose Code is the record's position until the type's own is read.
void ParseMultilayerType(DiagnosticsLog &log, std::string_view text,
                         multilayer_landuse_class &record);

} // namespace tavro
