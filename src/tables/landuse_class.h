// One row of the land-use table and the evaluation of its parameters for a day
// and a cell: vegetation parameters between Julian-day fix points that move
// with the cell's altitude, linear interpolation with a wrap over the turn of
// the year, twelve monthly resistances of old one-line entries, the per-cell
// stages of the dynamic phenology, n-factors and the balance vegetation period.
//
// Evaluation is const and allocation-free: each call keeps its fix points and
// month lengths in local fixed-size scratch, so OpenMP threads may evaluate
// cells of different altitude with the same record at once.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class Grid;
class Stack;

namespace landuse {

// Values of `Method`.
inline constexpr int Unset = 0;
inline constexpr int OldFormat = 1;
inline constexpr int VariableDayCount = 2;
inline constexpr int DynamicPhenology1 = 3;
inline constexpr int DynamicPhenology2 = 4;
inline constexpr int DynamicPhenology3 = 5;
inline constexpr int DynamicPhenology4 = 6;

// Exit codes of the record's operations.
inline constexpr int DayOfYearError = 150;
inline constexpr int FixPointError = 152;
inline constexpr int MonthlyDayError = 153;
inline constexpr int MonthlyMonthError = 154;

// At most one fix point per day of the year.
inline constexpr int MaxFixPoints = 366;
inline constexpr std::size_t MaxNameLength = 199;
// Old one-line entries: element m is the value of the 15th of month m,
// element 0 a copy of December, element 13 a copy of January.
inline constexpr std::size_t MonthlyListSize = 14;

// Fix points of one cell, elements 0..FixPointCount.
using FixPointScratch = std::array<int, MaxFixPoints + 1>;
// Element 0 is December of the previous year, 1..12 January..December.
using MonthTable = std::array<int, 13>;

// Gregorian leap year (2000 is one, 1900 and 2100 are not).
bool IsLeapYear(int year);
MonthTable MonthLengthsOfYear(int year);
// The month table of a year without leap day (February 28).
MonthTable CommonMonthLengths();

// Linear value at x between (a, va) and (b, vb); equal positions give va.
// x is held inside [a, b], so the result never leaves the two values.
double Interpolate(double a, double b, double va, double vb, double x);

// Monthly value of an old one-line entry on day 1..lengths[month] of month
// 1..12: between the 15th of the month before and the 15th of this month for
// days before the 15th, between this month's and the next month's 15th from
// the 15th on, each over the length of the interval's first month.
double MonthlyValue(std::span<const double> monthly, int day, int month, const MonthTable &lengths);

// Number of stages a cell has reached on day j: stages[1..n] hold the day
// each stage was reached (0 or below while not reached), counted from stage 1
// as long as the stages are reached in order.
int ReachedStages(std::span<const double> stages, int n, int julianDay);

// Value of a list on day j from the cell's stage days stages[0..n] (stages[0]
// the forcing threshold reached last). A stage not yet reached holds the
// value of the stage before it, after the last stage its value holds, and
// before the first stage the closing value V[0] holds. With thresholds (a
// DynamicPhenology_3 entry) a stage with a positive forcing threshold is
// approached by the forcing sum instead of the day.
double StageValue(std::span<const double> stages, std::span<const double> values, int n,
                  int julianDay, std::span<const double> thresholds, double forcingSum);

// Balance vegetation period from the stage days: the day itself while the
// stages from `startIndex` on (up to but excluding `stopIndex`, or without
// end when stopIndex < startIndex) are reached; 0 without a start index;
// otherwise -1.
double StageBalanceStart(std::span<const double> stages, int n, int julianDay, int startIndex,
                         int stopIndex);
// The day itself on the day stage `stopIndex` was reached; 0 without a stop
// index; otherwise -1.
double StageBalanceStop(std::span<const double> stages, int n, int julianDay, int stopIndex);

} // namespace landuse

// Everything a table entry defines, with the values of an entry before any
// key is read. Lists of fix-point values hold FixPointCount + 1 elements,
// element 0 closing the year (a copy of the last value, in day lists the last
// day minus 366); old one-line entries hold their three resistances as
// 14-element monthly lists.
struct LanduseParameters {
  std::string Name;
  int Code = 0;
  int Method = landuse::Unset;
  int FixPointCount = 0;
  int StartVegetationPeriodForBalance = 0;
  int StopVegetationPeriodForBalance = 1000;
  int JDVegetationResetForBalance = 1;
  int JDVegetationWriteForBalance = 0;
  int InternalParameterMask = 255;
  std::string useInternalParameters = "11111111";
  int DynamicStartDay = 0;
  // DynamicPhenology_1, _2, _4: index (1..n-1) of the first negative JulDays
  // value, the fix point TStart at which vegetation starts; -1 without one.
  int TStartIndex = 0;

  std::vector<int> JulDays;
  std::vector<double> rsc;
  std::vector<double> rs_interception;
  std::vector<double> rs_evaporation;
  std::vector<double> Albedo;
  std::vector<double> LAI;
  std::vector<double> Z0;
  std::vector<double> VCF;
  std::vector<double> RootDepth;
  std::vector<double> AltDep;           // days of shift per metre above 400 m
  std::vector<double> ForcingThreshold; // DynamicPhenology_3 only

  double RootDist = 0.0;
  double HReduDry = 0.0;
  double TReduWet = 0.0;
  double LimitReduWet = 0.0;

  double FStar = 0.0; // key "F*"
  int JDReset_TStart = 0;
  int DP1_t1_dorm = 0;
  double DP1_T_Bf = 0.0;
  int DP2_t0_dorm = 0;
  int DP2_t1_dorm = 0;
  double DP2_T_Bc = 0.0;
  double DP2_T_Bf = 0.0;
  double DP2_Par_a = 0.0;
  double DP2_Par_b = 0.0;
  double DP2_Offset_1 = 0.0;
  double DP2_Offset_2 = 0.0;
  int DP4_t0_dorm = 0;
  int DP4_t1_dorm = 0;
  double DP4_T0 = 0.0;
  double DP4_T1 = 0.0;
  double DP4_Par_a = 0.0;
  double DP4_Par_b = 0.0;
  double DP4_T_xylstop = 0.0;
  int DP4_t_xs1 = 0;
  int DP4_SPSLF = 0;
  int maxStartJDforDP1 = 0;
  double StressFactorDynPhen = 0.0;

  double IntercepCap = -1.0; // negative: not given
  int SoilTillageCount = 0;
  std::vector<int> SoilTillage; // SoilTillageCount + 1 elements

  int SR_cultivation = 0; // 1 conserving, 2 nonconserving, 3 other
  std::vector<double> SR_StemDiameter;
  std::vector<double> SR_ResidCovrg;
  double SR_CropDistX = 0.0;
  double SR_CropDistY = 0.0;
  double SR_K_ST = 0.0;
  double SR_C_WR = 0.0;
  std::array<double, 4> SR_rough_coeff1{}; // elements 1..3 used
  std::array<double, 4> SR_rough_coeff2{};

  std::vector<double> NFactor; // key "n-factor"
  double nf_freezing = -1.0;
  double nf_thawing = -1.0;
};

// The per-layer grids of a dynamic-phenology entry, owned by the set-up.
struct PhenologyLayerGrids {
  const Grid *PhenoStart = nullptr;  // "Pheno_start": the cell's TStart, -1 while not reached
  const Grid *FStar = nullptr;       // "FStar_ForcingThreshold"
  const Grid *ForcingSum = nullptr;  // "SumOfForcingUnits"
  const Stack *StartTimes = nullptr; // "MultipleStartTimes": the cell's stage days
};

class landuse_class {
public:
  // An empty record (the table's header, or an entry not yet read).
  landuse_class() = default;
  // A record from read parameters. Lists whose sizes do not fit the fix-point
  // count or the method end the run with exit code 29.
  landuse_class(DiagnosticsLog &log, LanduseParameters parameters);

  const LanduseParameters &Parameters() const { return p_; }

  int GetCode() const { return p_.Code; }
  void SetCode(int code) { p_.Code = code; }
  const std::string &GetName() const { return p_.Name; }
  int GetMethod() const { return p_.Method; }
  int GetFixPointCount() const { return p_.FixPointCount; }
  int GetMaxFixPoints() const { return maxFixPoints_; }
  int GetStartVegetationPeriodForBalance() const { return p_.StartVegetationPeriodForBalance; }
  int GetStopVegetationPeriodForBalance() const { return p_.StopVegetationPeriodForBalance; }
  int GetJDVegetationResetForBalance() const { return p_.JDVegetationResetForBalance; }
  int GetJDVegetationWriteForBalance() const { return p_.JDVegetationWriteForBalance; }
  // The table's header keeps the balance days of the whole table.
  void SetBalanceDays(int resetDay, int writeDay);

  double GetRootDist() const { return p_.RootDist; }
  double GetHReduDry() const { return p_.HReduDry; }
  double GetTReduWet() const { return p_.TReduWet; }
  double GetLimitReduWet() const { return p_.LimitReduWet; }
  double GetIntercepCap() const { return p_.IntercepCap; }
  int GetSoilTillageCount() const { return p_.SoilTillageCount; }
  // Elements 0..SoilTillageCount (element 0 the last day minus 366).
  std::span<const int> GetSoilTillage() const { return p_.SoilTillage; }
  int GetSRCultivation() const { return p_.SR_cultivation; }
  double GetSRCropDistX() const { return p_.SR_CropDistX; }
  double GetSRCropDistY() const { return p_.SR_CropDistY; }
  double GetSRKST() const { return p_.SR_K_ST; }
  double GetSRCWR() const { return p_.SR_C_WR; }
  void GetSRRoughCoeff1(double &a, double &b, double &c) const;
  void GetSRRoughCoeff2(double &a, double &b, double &c) const;
  double GetNFactorFreezing() const { return p_.nf_freezing; }
  double GetNFactorThawing() const { return p_.nf_thawing; }
  int GetInternalParameterMask() const { return p_.InternalParameterMask; }
  int UsesInternalParameter(int bits) const { return p_.InternalParameterMask & bits; }
  std::string GetUseInternalParameters() const { return p_.useInternalParameters; }
  // Element i of ForcingThreshold for a DynamicPhenology_3 entry, else -1.
  double GetForcingThreshold(int i) const;

  // Dynamic phenology.
  int GetTStartIndex() const { return p_.TStartIndex; }
  std::span<const int> GetJulDays() const { return p_.JulDays; }
  std::span<const double> GetAltDep() const { return p_.AltDep; }
  std::span<const double> GetForcingThresholds() const { return p_.ForcingThreshold; }
  double GetFStar() const { return p_.FStar; }
  double GetStressFactorDynPhen() const { return p_.StressFactorDynPhen; }
  int GetmaxStartJDforDP1() const { return p_.maxStartJDforDP1; }
  int GetDynamicStartDay() const { return dynamicStartDay_; }
  void SetDynamicStartDay(int day) { dynamicStartDay_ = day; }
  bool GetStartDayPreset() const { return startDayPreset_; }
  void SetStartDayPreset(bool preset) { startDayPreset_ = preset; }
  bool IsDynamicPhenology() const;
  // A DynamicPhenology_3 or _4 entry whose cells keep their stage days in stacks.
  bool UsesStages() const;
  // Stores the largest fix-point count of the table and the per-layer grids
  // (element 0 unused); done once by the parameter-grid set-up.
  void SetPhenologyGrids(int maxFixPoints, std::vector<PhenologyLayerGrids> layers);

  // Day of the year of a date (Gregorian February). A month outside 1..12 or
  // a result outside 0..366 logs a FATAL entry naming the record and the date
  // and throws 150.
  int DayOfYear(DiagnosticsLog &log, int day, int month, int year) const;
  // For DynamicPhenology_1, _2 and _4 entries: marks the start as preset and,
  // when the date lies after maxStartJDforDP1, moves DynamicStartDay back.
  void PresetStartDay(DiagnosticsLog &log, int day, int month, int year);

  // Fix points of a cell with the given start day and altitude into
  // fixPoints[0..n]; element 0 is the shifted last fix point minus 366.
  // A fix point outside -1..366 throws 152 with its FATAL entry.
  void ComputeFixPoints(DiagnosticsLog &log, int startDay, double altitude,
                        landuse::FixPointScratch &fixPoints) const;
  // Index i in 1..n+1 of the interval (FixPoints[i-1], FixPoints[i]] holding
  // the day; n+1 after the last fix point.
  int FindFixPointInterval(DiagnosticsLog &log, int julianDay, int startDay, double altitude) const;

  // Parameters at a date and at a Julian day, for a cell of land-use layer
  // `layer` at (row, column) and the given altitude in metres.
  double GetRsc(DiagnosticsLog &log, int day, int month, int year, int layer, int row, int column,
                double altitude) const;
  double GetRscAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                           double altitude) const;
  double GetRsInterception(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                           int column, double altitude) const;
  double GetRsInterceptionAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                      int column, double altitude) const;
  double GetRsEvaporation(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                          int column, double altitude) const;
  double GetRsEvaporationAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                     int column, double altitude) const;
  double GetZ0(DiagnosticsLog &log, int day, int month, int year, int layer, int row, int column,
               double altitude) const;
  double GetZ0AtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                          double altitude) const;
  double GetLAI(DiagnosticsLog &log, int day, int month, int year, int layer, int row, int column,
                double altitude) const;
  double GetLAIAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                           double altitude) const;
  double GetVCF(DiagnosticsLog &log, int day, int month, int year, int layer, int row, int column,
                double altitude) const;
  double GetVCFAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                           double altitude) const;
  double GetRootDepth(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                      int column, double altitude) const;
  double GetRootDepthAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                                 double altitude) const;
  double GetAlbedo(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                   int column, double altitude) const;
  double GetAlbedoAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                              double altitude) const;
  double GetSRStemDiameter(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                           int column, double altitude) const;
  double GetSRStemDiameterAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                      int column, double altitude) const;
  double GetSRResidCovrg(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                         int column, double altitude) const;
  double GetSRResidCovrgAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                    int column, double altitude) const;

  // Several fix-point lists (lists of Parameters(), such as &Parameters().LAI)
  // on one Julian day in one cell, the cell's fix points found once for all:
  // values[i] is what the Julian-day form of lists[i] gives. Not for the
  // monthly resistances of an old one-line entry. A failure logs the cell's
  // coordinates, as GetRootDepthAtJulianDay does, and throws its exit code.
  void GetValuesAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                            double altitude, std::span<const std::vector<double> *const> lists,
                            std::span<double> values) const;

  // Balance vegetation period: the day on the day the period starts (stops),
  // 0 when the entry defines no start (stop), -1 otherwise.
  double GetBalanceStartDay(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                            int column, double altitude) const;
  double GetBalanceStartDayAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                       int column, double altitude) const;
  double GetBalanceStopDay(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                           int column, double altitude) const;
  double GetBalanceStopDayAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                      int column, double altitude) const;

  // n-factor of the soil heat model, on the table's fix points (no altitude).
  double GetNFactor(DiagnosticsLog &log, int day, int month, int year) const;
  double GetNFactorAtJulianDay(DiagnosticsLog &log, int julianDay) const;

private:
  // Interval and day after the wrap over the year.
  struct DayInInterval {
    int Index;
    int Day;
  };

  bool UsesMonthlyResistances() const;
  int CellStartDay(DiagnosticsLog &log, int layer, int row, int column) const;
  const PhenologyLayerGrids &Layer(DiagnosticsLog &log, int layer) const;
  double CellValue(DiagnosticsLog &log, const Grid *grid, int layer, int row, int column,
                   const char *what) const;
  std::span<const double> CellStages(DiagnosticsLog &log, int layer, int row, int column) const;
  DayInInterval Locate(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                       double altitude, landuse::FixPointScratch &fixPoints) const;
  void ValuesAtJulianDay(DiagnosticsLog &log, std::span<const std::vector<double> *const> lists,
                         std::span<double> values, int julianDay, int layer, int row, int column,
                         double altitude) const;
  void LogCellFailure(DiagnosticsLog &log, int julianDay, int layer, int row, int column,
                      double altitude) const;
  double ValueAtJulianDay(DiagnosticsLog &log, const std::vector<double> &values, int julianDay,
                          int layer, int row, int column, double altitude) const;
  double MonthlyAtDate(DiagnosticsLog &log, const std::vector<double> &values, int day, int month,
                       int year) const;
  double MonthlyAtJulianDay(DiagnosticsLog &log, const std::vector<double> &values,
                            int julianDay) const;
  double ResistanceAtDate(DiagnosticsLog &log, const std::vector<double> &values, int day,
                          int month, int year, int layer, int row, int column,
                          double altitude) const;
  double ResistanceAtJulianDay(DiagnosticsLog &log, const std::vector<double> &values,
                               int julianDay, int layer, int row, int column,
                               double altitude) const;
  [[noreturn]] void NoFixPoints(DiagnosticsLog &log) const;

  LanduseParameters p_;
  int dynamicStartDay_ = 0;
  bool startDayPreset_ = false;
  int maxFixPoints_ = 0;
  std::vector<PhenologyLayerGrids> layers_; // element 0 unused
  bool hasStages_ = false;
};

} // namespace tavro
