// The subbasin table of "[unsatzon_model]": a row of subbasin codes and six
// rows of values, one per listed code. A code stands for a group: every
// subbasin whose code lies between two listed codes takes the values of the
// nearest listed subbasin below it. The storage constants are converted to
// minutes and the baseflow recession constant to its inverse as they are
// read, so copies carry the converted values.
#pragma once

#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <cstdio>
#include <string>

namespace tavro {

class DiagnosticsLog;

// The subbasins of "zonegrid_soilmodel" ranked in ascending order of code.
struct SubbasinRanks {
  const OneBasedArray<int> *Index = nullptr;        // rank of codes 0..MaxCode, 0 = none
  const OneBasedArray<ZoneRecord> *Table = nullptr; // zonenwert = code of ranks 1..Count
  int Count = 0;
  int MaxCode = 0;

  // The rank of a code, 0 when it is no subbasin code.
  int RankOf(long code) const;
  // The code of rank 1..Count.
  int CodeOf(int rank) const;
};

// Per-subbasin values, indexed by rank 1..n (element 0 unused).
struct SubbasinParameters {
  OneBasedArray<int> code;
  OneBasedArray<double> kelsqd;              // storage constant of direct runoff, minutes
  OneBasedArray<double> kelsqi;              // storage constant of interflow, minutes
  OneBasedArray<double> DrainageDensity;     // channel network density, as read
  OneBasedArray<double> InvKelsqlat;         // 1/kelsqlat; 0 for a negative kelsqlat (no recession)
  OneBasedArray<double> MaxBaseflow;         // "QB-Red.Faktor", as read
  OneBasedArray<double> SnowRunoff_fraction; // surface-runoff share of snowmelt
};

inline constexpr int kSubbasinTableExitCode = 10;

// A storage constant in hours as kept, in minutes: values below 0.001 h
// become 0.06 min.
double StorageConstantMinutes(double hours);

// Reads the seven rows from file (positioned at the code row). Fatal (10,
// with the group-syntax help) for a code that cannot be read or is no
// subbasin code, a value that cannot be read, and a kelsqlat of exactly 0.
// controlFileName is named in the entry of a wrong code.
SubbasinParameters ReadSubbasinParameterTable(std::FILE *file, DiagnosticsLog &log,
                                              const SubbasinRanks &codes,
                                              const std::string &moduleName,
                                              const std::string &controlFileName);

} // namespace tavro
