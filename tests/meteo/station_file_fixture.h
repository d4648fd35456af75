// Station data files written by the interpolator tests (the title, the
// altitude, x and y lines and the names line, then one row per day), and
// reference values computed directly from the stations.
#pragma once

#include "meteo/interpolation/inverse_distance.h"

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

// The values of f at the stations.
template <class F>
std::vector<double> AtStations(const std::vector<MeshStation> &stations, const F &f) {
  std::vector<double> values;
  for (const auto &s : stations)
    values.push_back(f(s.x, s.y));
  return values;
}

// Plain inverse distance weighting (p = 2, by default the interpolator
// fixture's radius of 50 km) with the nodata bound N.
inline double InverseDistanceOf(const std::vector<MeshStation> &stations,
                                const std::vector<double> &values, double x, double y,
                                double nodata = 9999.0, double radius = 50000.0) {
  std::vector<double> xs, ys, work(stations.size());
  for (const auto &st : stations) {
    xs.push_back(st.x);
    ys.push_back(st.y);
  }
  interpolation::InverseDistanceSettings idw;
  idw.MaxDistance = radius * radius;
  idw.ValidFrom = -nodata;
  idw.Missing = -nodata - 1.0;
  return interpolation::InverseDistance(xs, ys, values, work, x, y, idw);
}

} // namespace tavro
