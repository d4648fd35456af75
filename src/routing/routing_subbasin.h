// One routing subbasin (`routingclass`): one "TG" description of the routing
// module. It routes its own runoff and the outflow of the subbasins flowing
// into it through its channels ("OL" at its end, "SUMTRIB" at its start, one
// per inflow "ZL"), each with a water-level/discharge table, to its outlet,
// and leaves the result in the routing module's flow arrays at its own flow
// index. Abstractions ("AL") and reservoirs ("SP") are numbered here; what
// they do follows with their own elements.
//
// Channels carry local indices 1..nOL+nSUMTRIB+nZL (OL, then SUMTRIB, then
// the inflows); index 0 stands for the routing subbasin itself.
#pragma once

#include "kernel/buffered_table_reader.h"
#include "kernel/modelobject.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "routing/abstraction.h"
#include "routing/channels/water_level_table.h"
#include "routing/reservoir.h"
#include "routing/routing_description.h"
#include "routing/routing_flow_arrays.h"

#include <array>
#include <string>
#include <vector>

namespace tavro {

class StateFileReader;
class StateFileWriter;

// What the routing module hands every routing subbasin beyond the common settings.
struct RoutingSubbasinSetup {
  int TgCode = 0;
  double TgArea = 0.0;   // km2, as the description states it
  double TgFactor = 1.0; // area factor
  TokenCounts Counts;    // elements of the description
  int SubbasinCount = 0; // nsub
  double TimeStep = 0.0; // dt, minutes
  int SubIntervals = 1;  // K
  int ObservedComparison = 0;
  DischargeRelations *Abfrel = nullptr; // the module's, shared
  SubbasinCodes Codes;
  int TracerCount = 0;                  // n
  std::vector<double> HalfLives;        // per tracer 1..n in days (entry 0 unused)
  std::vector<std::string> TracerNames; // per tracer, in tracer order
  int LakeSwitch = 0;
  int LakeGridSwitch = 0;
};

// One channel: its tributary, parameters, table and the state of its sub-channels.
struct RoutingChannel {
  int tributaryCode = 0;        // subbasin code, or the inflow number of an inflow channel
  std::vector<int> sumtribList; // SUMTRIB: the codes behind "&"
  ChannelParameters parameters; // after the defaults (storage constants in h)
  double storageMain = 0.0;     // recession coefficient exp(-1/k) of the main channel
  double storageFlood = 0.0;    // and of the flood plain
  double qspecMin = 0.0;
  double qspecMax = 0.0;
  double tableIntervals = 0.0; // N
  WaterLevelTable wqtab;
  // Per sub-channel 1..nsc: the last element written in the previous step,
  // the flood share of that step, its outflow per sub-interval 0..K+1 and the
  // flood plain's part of that outflow (the water the slower storage still
  // holds after a flood drains from it).
  std::vector<int> endPosition;
  std::vector<double> qvzuq;
  std::vector<double> Qaus;         // rows 0..nsc+1 of K+2 values
  std::vector<double> floodOutflow; // the same rows

  int Subchannels() const { return static_cast<int>(wqtab.subchannels); }
  // One sub-channel's part of the chain: K plus the largest delay.
  int PartLength(int subIntervals) const { return subIntervals + wqtab.largestDelta; }
  double *QausRow(int subchannel, int subIntervals) { return Row(Qaus, subchannel, subIntervals); }
  double *FloodOutflowRow(int subchannel, int subIntervals) {
    return Row(floodOutflow, subchannel, subIntervals);
  }
  const double *FloodOutflowRow(int subchannel, int subIntervals) const {
    return floodOutflow.data() + RowStart(subchannel, subIntervals);
  }

private:
  static std::size_t RowStart(int subchannel, int subIntervals) {
    return static_cast<std::size_t>(subchannel) * (static_cast<std::size_t>(subIntervals) + 2);
  }
  static double *Row(std::vector<double> &rows, int subchannel, int subIntervals) {
    return rows.data() + RowStart(subchannel, subIntervals);
  }
};

// One inflow "ZL" at its position j = 1..nZL.
struct RoutingInflow {
  int number = 0; // z; its flow index is nsub + z
  InflowKind kind = InflowKind::Constant;
  BufferedTableReader reader; // external inflows
  std::vector<double> values; // per component 0..n: m3/s, then concentrations
  int startRow = 0;
};

class routingclass : public modelobject {
public:
  static constexpr const char *FixedName = "routingmodel";
  static constexpr int TableBufferBytes = 100000;

  // error: 0, the exit code thrown, or 103 for any other failure.
  routingclass(int &error, const ModuleSettings &settings, const RoutingSubbasinSetup &setup);

  // --- Set-up ---------------------------------------------------------------
  // Channel index (1..channel count) in element order: parameters with their
  // defaults, the water-level/discharge table and the sub-channel state.
  // Returns the channel's storage-element count E; an unusable table is fatal (17).
  virtual int SetChannel(int index, int code, const std::vector<int> &list, int subIntervals,
                         int observedComparison, const ChannelValues &values, double qspecMin,
                         double qspecMax, double intervals);
  // Sets up the inflow at position channelIndex - nOL - nSUMTRIB; an
  // external file is positioned at the start date (37, 38).
  virtual void OpenInflow(int channelIndex, int number, InflowKind kind,
                          const std::string &fileName, int startRow, double constant,
                          int firstTracerColumn, int year, int month, int day, int hour);
  // The numbers of the abstractions and reservoirs, at their positions 1..n.
  void SetAbstractionNumber(int position, int number);
  void SetReservoirNumber(int position, int number);
  // The abstraction at its position 1..nAL and the reservoir at its position
  // 1..nSP: the element's keys are read behind textPosition of the description.
  virtual void SetAblaufModus(int position, const std::string &description,
                              std::size_t textPosition, int number, int year, int month, int day,
                              int hour);
  virtual void SetSpeicherParams(int position, const std::string &description,
                                 std::size_t textPosition, int number);
  // The operation rules of reservoirs (then their first release, for the
  // start date) and of abstractions.
  virtual void InitReservoirRules(std::FILE *controlFile, int year, int month, int day, int hour);
  virtual void InitAbstractionRules(std::FILE *controlFile);
  // Lakes (lake switch on, rank 0): the routing module's whole-raster copies
  // of the lake cells' grids, then every lake's start on its cells (from
  // their ponding with LakeGridSwitch set, else its initial volume spread
  // over them) and its first release again.
  void SetLakeGrids(LakeGrids *grids) { lakeGrids_ = grids; }
  void StartLakes();
  // Appends the buffered rows of the abstractions, then of the reservoirs.
  virtual void FlushOutputs();
  AL_class &Abstraction(int position) {
    return abstractions_.at(static_cast<std::size_t>(position));
  }
  SP_class &Reservoir(int position) { return reservoirs_.at(static_cast<std::size_t>(position)); }

  // The larger of currentMaximum and the largest E of the channels.
  virtual int GetMaxStorageElements(int currentMaximum) const;
  // The largest travel time (whole hours) in the first row of the tables of
  // its channels.
  long LargestTravelTimeHours() const;
  // Area shares of the channels and the area check against the zone grid;
  // upstream subbasins first, as it reads their upstream areas.
  virtual void CheckAreas();
  // "wq_table.%.3d" / "wq_tabZL.%.3d" per channel, in the working directory.
  virtual void WriteTables();
  virtual void SetMaxIrrig(IrrigationLimits *maxIrrig, IrrigationLimits *maxIrrigFromReservoirs);
  virtual void SetIrrigationAmounts(IrrigationAmounts *amounts);

  // The Manning iteration (velocity in and out); returns the velocity.
  double ManningVelocity(double discharge, double width, double &depth, double &radius,
                         double &velocity, double coefficient, double slopeRoot, double tolerance,
                         int maxIterations) const;
  // Table row 1..N+1 of channel for a runoff in mm per step.
  virtual int GetTableIndex(double runoff, int channel) const;

  // --- The step -------------------------------------------------------------
  // Keeps the flow arrays, puts the inflows' start discharges into them and
  // creates the storage chains of every channel (exit 1 when they cannot be).
  virtual void SetInputArrays(RoutingFlowArrays *flows);
  virtual void InitChannelStorages();
  // Reads the external inflows of the step into RoutingInput (36, 39).
  virtual void ReadInflows(ComponentTable &routingInput, int year, int month, int day, int hour);
  // Routes one step; a month below 1 marks an initialisation pass.
  virtual void Route(long year, long month, long day, long hour);
  // Keeps the river exchange table (none: no exchange) and fills the
  // records of every OL and SUMTRIB tributary ("&" members included) with
  // this routing subbasin's number, the channel and its area, then their flows.
  virtual void SetRiverflowTable(riverflow_table *table, int number);
  // After Route: the flows, concentrations and velocities of those records;
  // their exchange is cleared.
  virtual void UpdateRiverflowTable();

  // --- Arithmetic -----------------------------------------------------------
  double GetAbstractionSum() const { return abstractionSum_; }
  // The largest of series[1..K].
  double GetSubstepMaximum(const double *series) const;
  static double Multiply(double a, double b) { return a * b; }
  static double MixConcentration(double c1, double c2, double volume1, double volume2);
  static double ConcentrateByLoss(double concentration, double volume, double loss);
  // m3/s to mm per step of dt minutes over area km2, and back.
  static double ToMillimetres(double value, double area, double dt) {
    return value * 0.06 * dt / area;
  }
  static double ToCubicMetresPerSecond(double value, double area, double dt) {
    return value * area * 16.6666667 / dt;
  }

  // --- State -----------------------------------------------------------------
  // This routing subbasin's block of the state section.
  virtual void WriteStorage(StateFileWriter &file);
  // Reads the block; a block of another network is fatal (71, with the
  // position of the annotated line in the block).
  virtual void ReadStorage(StateFileReader &file, const std::string &fileName);
  // The reservoirs' state, [1..SP][0..n]: the stored volume in m3 and the
  // tracer concentrations, as the elements state them at the start, the
  // state file replaces them and the section writes them.
  std::vector<std::vector<double>> &ReservoirStates();

  void ReleaseMemory() override;

  // --- Read access ------------------------------------------------------------
  int TgCode() const { return tgCode_; }
  double TgArea() const { return tgArea_; }
  double TgFactor() const { return tgFactor_; }
  int OwnIndex() const { return own_; }
  int ChannelCount() const { return static_cast<int>(channels_.size()) - 1; }
  const RoutingChannel &Channel(int index) const {
    return channels_[static_cast<std::size_t>(index)];
  }
  double AreaShare(int index) const { return areaShare_[static_cast<std::size_t>(index)]; }
  const TokenCounts &Counts() const { return counts_; }
  const RoutingInflow &Inflow(int position) const {
    return inflows_[static_cast<std::size_t>(position)];
  }
  const std::vector<int> &AbstractionNumbers() const { return abstractionNumbers_; }
  const std::vector<int> &ReservoirNumbers() const { return reservoirNumbers_; }
  int SubIntervals() const { return subIntervals_; }
  const riverflow_table *RiverflowTable() const { return riverflow_; }

private:
  bool IsSumtribChannel(int i) const { return i > counts_.OL && i <= counts_.OL + counts_.SUMTRIB; }
  bool IsInflowChannel(int i) const { return i > counts_.OL + counts_.SUMTRIB; }
  // The flow index a channel routes: its tributary's zone index, or nsub + z.
  int ChannelFlowIndex(int i) const;
  // The flow indices a channel routes: its "&" members, then its tributary.
  std::vector<int> ChannelMembers(int channel) const;
  double RelativeArea(int index) const;
  double AreaFactor(int index) const;
  double *OutSeries(int component) { return out_.data() + ComponentStart(component); }
  double *InSeries(int component) { return in_.data() + ComponentStart(component); }
  std::size_t ComponentStart(int component) const {
    return static_cast<std::size_t>(component) * (static_cast<std::size_t>(subIntervals_) + 1);
  }
  void CreateChains(int channel, int flowIndex);
  void RouteChannel(int i, bool initialising);
  void MixSumtrib(int i, double *weightSum);
  void ChannelInflow(int i, int flowIndex);
  // The observed discharge that replaces a subbasin's simulated water in
  // its channels (observed comparison on), or a negative value: none.
  double ObservedRunoff(int flowIndex) const;
  void AddChannelOutflow(int i, int flowIndex, double weightSum);
  void Outlet();
  // Steps that the irrigation, river-exchange, abstraction and reservoir
  // elements fill; without them they change nothing.
  void WithdrawIrrigationAtTributaries();
  // What the river cells took from the channel's tributaries, converted in
  // place from m3/s to mm per step and subtracted from every sub-interval.
  void ExchangeWithRiver(int channel);
  template <typename Visit> void ForEachRiverRecord(Visit &&visit);
  template <typename Visit> void VisitRecord(int channel, int flowIndex, Visit &visit);
  void WithdrawIrrigationAtOutlet();
  // Takes amount (mm) from every sub-interval of flow index t, not below 0;
  // returns what could not be taken.
  double WithdrawFromSubIntervals(int t, double amount);
  void ApplyAbstractions(long year, long month, long day, long hour);
  void BalanceReservoirs(long year, long month, long day, long hour);
  // A reservoir of a run with lakes: its cells found in the whole-raster
  // grids of rank 0, its water-level/volume table built and written.
  void BuildLake(SP_class &sp);
  // The first release of a reservoir from its volume, at the start date.
  void FirstRelease(SP_class &sp);
  // The subbasin's own area (km2), over which irrigation books its amounts.
  double OwnArea() const;
  // The volume (m3) that irrigation takes from the last reservoir this step.
  double ReservoirIrrigationVolume(bool initialising) const;
  // An internal abstraction's water (m3/s) into its connected inflow.
  void FeedInternalInflow(const AL_class &al, double rate);
  void WriteTable(int i) const;
  int StorageChainLength(int channel) const;
  void WriteSubchannels(StateFileWriter &file, int channel, int label);
  void ReadSubchannels(StateFileReader &file, int channel, int &position);
  std::string StateMessage(const char *what, int position) const;
  void OpenInflowFile(RoutingInflow &inflow, int position, const std::string &fileName,
                      int startRow, int firstTracerColumn, int year, int month, int day, int hour);

  int tgCode_ = 0;
  int own_ = 0; // flow index of the routing subbasin
  int nsub_ = 0;
  double dt_ = 0.0;
  double tgArea_ = 0.0;
  double tgFactor_ = 1.0;
  TokenCounts counts_;
  int subIntervals_ = 1;
  int observedComparison_ = 0;
  int tracerCount_ = 0;
  std::vector<double> halfLives_;
  DischargeRelations *abfrel_ = nullptr;
  SubbasinCodes codes_;
  int lakeSwitch_ = 0;
  int lakeGridSwitch_ = 0;
  LakeGrids *lakeGrids_ = nullptr;
  std::array<int, 4> startDate_{}; // year, month, day, hour of the rules' first release

  std::vector<RoutingChannel> channels_;       // 0..channel count
  std::vector<double> areaShare_;              // 0..nOL+nSUMTRIB+nAmp+nZL
  std::vector<RoutingInflow> inflows_;         // 0..nZL
  std::vector<int> abstractionNumbers_;        // 0..nAL
  std::vector<int> reservoirNumbers_;          // 0..nSP
  std::vector<AL_class> abstractions_;         // 0..nAL
  std::vector<SP_class> reservoirs_;           // 0..nSP
  std::vector<AL_class *> directAbstractions_; // mode 8, served by the last reservoir
  std::vector<std::string> tracerNames_;
  std::vector<double> vector_; // 0..n: one element's output row
  ComponentTable emptyInput_;

  RoutingFlowArrays *flows_ = nullptr;
  riverflow_table *riverflow_ = nullptr;
  std::vector<std::vector<double>> reservoirStates_;
  std::string stateFileName_;
  IrrigationLimits *maxIrrig_ = nullptr;
  IrrigationLimits *maxIrrigFromReservoirs_ = nullptr;
  IrrigationAmounts *irrigationAmounts_ = nullptr;
  double abstractionSum_ = 0.0;
  bool released_ = false;

  // Per component 0..n, sub-intervals 0..K: the outflow of the subbasin and
  // the inflow of the channel being routed; chain pointers and decay factors
  // of one channel. Sized at construction, so that a step allocates nothing.
  std::vector<double> out_;
  std::vector<double> in_;
  std::vector<double *> chainPointers_;
  std::vector<double> decay_;
  std::vector<double> weights_; // SUMTRIB members: up to 10
};

} // namespace tavro
