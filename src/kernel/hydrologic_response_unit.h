// One hydrologic response unit of spin-up mode: a group of cells that share
// the classes of a few grids; only its first (master) cell is computed.
#pragma once

#include <cstdint>
#include <string>

namespace tavro {

struct HydrologicResponseUnit {
  std::int64_t number = 0;
  std::string key;
  std::int32_t row = 0; // master cell
  std::int32_t column = 0;
  std::uint8_t flag = 0;
};

} // namespace tavro
