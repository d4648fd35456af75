#!/usr/bin/env python3
"""Writes the station files of the example catchment from the observed daily
weather (shared/data/weather/seattle-newyork-daily-2012-2015.csv, given as the
first argument) for 1 to 28 January 2012:

observed:  wind_speed.dat (m/s)
derived from the daily maximum and minimum temperature by the FAO-56
procedures for missing data (Allen et al. 1998):
  global_radiation.dat   Rs = kRs sqrt(Tmax - Tmin) Ra (eq. 50, kRs = 0.19),
                         Ra by eq. 21 at the station's latitude, in Wh/m2 per day
  sunshine_duration.dat  n/N from Rs = (0.25 + 0.50 n/N) Ra (eq. 35), within 0..1
  air_humidity.dat       ea / es with the dew point at Tmin: ea = e0(Tmin) (eq. 48),
                         es = (e0(Tmax) + e0(Tmin)) / 2 (eq. 12), e0 by eq. 11
(The air pressure of the example lies on a mesh of its own,
examples/air_pressure_mesh.dat and air_pressure_gradient.dat.)
"""
import csv
import math
import sys

STATIONS = [  # name in the file, column label, altitude (m), x, y, latitude (deg)
    ("Seattle", "Seattle", 320.0, 503500.0, 5207500.0, 47.6),
    ("New York", "NewYork", 680.0, 509500.0, 5202500.0, 40.7),
]
DAYS = 28  # 1 to 28 January 2012


def extraterrestrial_radiation(latitude, day_of_year):
    """Ra in MJ m-2 day-1 (eq. 21 with eqs. 23 to 25)."""
    phi = math.radians(latitude)
    dr = 1 + 0.033 * math.cos(2 * math.pi / 365 * day_of_year)
    delta = 0.409 * math.sin(2 * math.pi / 365 * day_of_year - 1.39)
    ws = math.acos(-math.tan(phi) * math.tan(delta))
    return (24 * 60 / math.pi * 0.0820 * dr *
            (ws * math.sin(phi) * math.sin(delta) + math.cos(phi) * math.cos(delta) * math.sin(ws)))


def saturation_vapour_pressure(t):
    """e0(T) in kPa (eq. 11)."""
    return 0.6108 * math.exp(17.27 * t / (t + 237.3))


def main(path):
    rows = {}
    with open(path, newline="") as f:
        for r in csv.DictReader(f):
            if r["date"].startswith("2012-01-"):
                rows[(r["location"], int(r["date"][-2:]))] = r
    series = {"wind_speed": [], "global_radiation": [], "sunshine_duration": [],
              "air_humidity": []}
    for day in range(1, DAYS + 1):
        values = {k: [] for k in series}
        for name, _, z, _, _, latitude in STATIONS:
            r = rows[(name, day)]
            tmax, tmin = float(r["temp_max"]), float(r["temp_min"])
            ra = extraterrestrial_radiation(latitude, day)
            rs = 0.19 * math.sqrt(max(tmax - tmin, 0.0)) * ra
            sunshine = min(max((rs / ra - 0.25) / 0.50, 0.0), 1.0)
            es = (saturation_vapour_pressure(tmax) + saturation_vapour_pressure(tmin)) / 2
            values["wind_speed"].append(float(r["wind"]))
            values["global_radiation"].append(rs * 1e6 / 3600)  # MJ/m2 to Wh/m2
            values["sunshine_duration"].append(sunshine)
            values["air_humidity"].append(saturation_vapour_pressure(tmin) / es)
        for k in series:
            series[k].append(values[k])
    titles = {
        "wind_speed": ("daily mean wind speed (m/s), January 2012", "%.1f"),
        "global_radiation": ("daily global radiation (Wh/m2), January 2012, derived "
                             "(FAO-56 eq. 50, kRs 0.19)", "%.1f"),
        "sunshine_duration": ("relative sunshine duration n/N, January 2012, derived "
                              "(FAO-56 eq. 35)", "%.3f"),
        "air_humidity": ("daily mean relative humidity (fraction), January 2012, derived "
                         "(dew point = Tmin)", "%.3f"),
    }
    for k, (title, fmt) in titles.items():
        with open(k + ".dat", "w") as out:
            out.write(title + "\n")
            out.write("YY MM DD HH" + "".join("  %.1f" % s[2] for s in STATIONS) + "\n")
            out.write("YY MM DD HH" + "".join("  %.1f" % s[3] for s in STATIONS) + "\n")
            out.write("YY MM DD HH" + "".join("  %.1f" % s[4] for s in STATIONS) + "\n")
            out.write("YY MM DD HH" + "".join("  " + s[1] for s in STATIONS) + "\n")
            for day in range(1, DAYS + 1):
                out.write("2012 01 %02d 00" % day +
                          "".join("  " + fmt % v for v in series[k][day - 1]) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else
         "../shared/data/weather/seattle-newyork-daily-2012-2015.csv")
