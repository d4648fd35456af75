// Station data files written by the interpolator tests: the title, the
// altitude, x and y lines and the names line, then one row per day.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace tavro {

// A station of a mesh: coordinates and altitude.
struct MeshStation {
  double x, y, z;
};

// A station data file of the given stations with one row per day from the
// given day of 2001 on.
inline std::string StationFile(const std::vector<MeshStation> &stations,
                               const std::vector<std::vector<double>> &days, int month = 1,
                               int firstDay = 2) {
  std::ostringstream text;
  text.precision(17);
  text << "mesh\nYY MM DD HH";
  for (const auto &s : stations)
    text << " " << s.z;
  text << "\nYY MM DD HH";
  for (const auto &s : stations)
    text << " " << s.x;
  text << "\nYY MM DD HH";
  for (const auto &s : stations)
    text << " " << s.y;
  text << "\nYY MM DD HH names\n";
  for (std::size_t d = 0; d < days.size(); ++d) {
    text << "2001 " << month << " " << static_cast<int>(d) + firstDay << " 0";
    for (const double v : days[d])
      text << " " << v;
    text << "\n";
  }
  return text.str();
}

} // namespace tavro
