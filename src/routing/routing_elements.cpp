// The abstractions and reservoirs of a routing subbasin: their elements,
// rule sections, their part of the routing step and their tables.
#include "routing/routing_model.h"
#include "routing/routing_subbasin.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/mpi_decomposition.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tavro {

void routingclass::SetAblaufModus(int position, const std::string &description,
                                  std::size_t textPosition, int number, int year, int month,
                                  int day, int hour) {
  AL_class &al = abstractions_.at(static_cast<std::size_t>(position));
  al.Setup(*Log, tracerNames_, tgArea_ / tgFactor_, dt_, DefaultOutputDirectory);
  al.ReadParameters(description, textPosition, number, year, month, day, hour);
}

void routingclass::SetSpeicherParams(int position, const std::string &description,
                                     std::size_t textPosition, int number) {
  SP_class &sp = reservoirs_.at(static_cast<std::size_t>(position));
  std::vector<double> decay(static_cast<std::size_t>(tracerCount_) + 1, 1.0);
  for (int k = 1; k <= tracerCount_; ++k) {
    const double halfLife = halfLives_[static_cast<std::size_t>(k)];
    if (halfLife > 0.0)
      decay[static_cast<std::size_t>(k)] =
          std::exp(-(dt_ / 60.0 / 24.0) / (halfLife * 1.442695041111));
  }
  sp.Setup(*Log, tracerNames_, std::move(decay), tgCode_, DefaultOutputDirectory);
  sp.ReadParameters(description, textPosition, number);
  if (lakeSwitch_ != 0)
    BuildLake(sp);
  sp.WriteHeader();
}

void routingclass::BuildLake(SP_class &sp) {
  // Rank 0 holds these set-up grids for every row of the raster.
  const Grid &codes = *(*Registry)[GetGridIndex("lake_codes")].Data;
  const Grid &zones = *(*Registry)[GetGridIndex("zonegrid_soilmodel")].Data;
  const Grid &elevation = *(*Registry)[GetGridIndex("[elevation_model]")].Data;
  const Grid &maxPonding = *(*Registry)[GetGridIndex("max_ponding_storage")].Data;
  std::vector<LakeCell> cells;
  for (long r = 1; r <= NRows; ++r) {
    if (!codes.HasRow(r) || !zones.HasRow(r) || !elevation.HasRow(r) || !maxPonding.HasRow(r))
      continue;
    const RowColumnRange range = RowRanges != nullptr
                                     ? (*RowRanges)[static_cast<std::size_t>(r)]
                                     : RowColumnRange{1, static_cast<std::int32_t>(NCols)};
    for (long c = std::max<long>(1, range.first); c <= range.last; ++c) {
      // The cells the lake exchange selects: valid in the zone grid.
      if (zones[r][c] == NoData || codes[r][c] != static_cast<double>(sp.number))
        continue;
      cells.push_back(LakeCell{static_cast<int>(r), static_cast<int>(c), elevation[r][c],
                               maxPonding[r][c], codes_.IndexOf(static_cast<int>(zones[r][c]))});
    }
  }
  LakeTableResult built = BuildLakeTable(sp.number, own_, tgCode_, cells, CellSize);
  if (built.exitCode != 0)
    ThrowFatal(*Log, built.exitCode, built.fault);
  const std::string fileName = LakeTableFileName(sp.number);
  if (!WriteLakeTable(built.table, sp.number, fileName))
    ThrowFatal(
        *Log, kLakeTableFileExitCode,
        Concat("error opening ", fileName, " for writing the waterlevel-volume-relation to disk."));
  std::vector<std::pair<long, long>> positions;
  std::vector<double> elevations;
  for (const LakeCell &cell : cells) {
    positions.emplace_back(cell.row, cell.column);
    elevations.push_back(cell.elevation);
  }
  sp.SetLakeTable(std::move(built.table));
  sp.SetLakeCells(std::move(positions), std::move(elevations), CellSize * CellSize);
}

void routingclass::FirstRelease(SP_class &sp) {
  if (flows_ == nullptr)
    emptyInput_.Resize(1, 0);
  double q = sp.EvaluateRules(0.0, dt_, flows_ != nullptr ? flows_->RoutingInput : emptyInput_, {},
                              startDate_[0], startDate_[1], startDate_[2], startDate_[3]);
  if (q * dt_ * 60.0 > sp.state[0])
    q = sp.state[0] / 60.0 / dt_;
  sp.outflow = q;
}

void routingclass::InitReservoirRules(std::FILE *controlFile, int year, int month, int day,
                                      int hour) {
  startDate_[0] = year;
  startDate_[1] = month;
  startDate_[2] = day;
  startDate_[3] = hour;
  for (int r = 1; r <= counts_.SP; ++r) {
    SP_class &sp = reservoirs_[static_cast<std::size_t>(r)];
    sp.ReadRules(controlFile);
    FirstRelease(sp);
  }
}

void routingclass::StartLakes() {
  if (lakeGrids_ == nullptr)
    return;
  for (int r = 1; r <= counts_.SP; ++r) {
    SP_class &sp = reservoirs_[static_cast<std::size_t>(r)];
    if (!sp.IsLake())
      continue;
    sp.LoadLakeCells(*lakeGrids_);
    sp.StartLake(lakeGridSwitch_ != 0);
    sp.StoreLakeCells(*lakeGrids_);
    FirstRelease(sp);
  }
}

void routingclass::InitAbstractionRules(std::FILE *controlFile) {
  directAbstractions_.clear();
  for (int a = 1; a <= counts_.AL; ++a) {
    AL_class &al = abstractions_[static_cast<std::size_t>(a)];
    al.ReadRules(controlFile);
    if (al.mode == kAbstractionFromReservoir && counts_.SP > 0)
      directAbstractions_.push_back(&al);
  }
}

double routingclass::OwnArea() const {
  if (irrigationAmounts_ == nullptr ||
      irrigationAmounts_->Records.Count() < static_cast<std::size_t>(own_))
    return tgArea_ / tgFactor_;
  return irrigationAmounts_->Records[static_cast<std::size_t>(own_)].rel *
         irrigationAmounts_->Records[0].rel;
}

double routingclass::ReservoirIrrigationVolume(bool initialising) const {
  if (initialising || irrigationAmounts_ == nullptr || maxIrrigFromReservoirs_ == nullptr)
    return 0.0;
  // mm over the subbasin's own area, as the irrigation module books it.
  return std::max(0.0, (*maxIrrigFromReservoirs_)[0][own_]) * OwnArea() * 1000.0;
}

void routingclass::FeedInternalInflow(const AL_class &al, double rate) {
  const int z = nsub_ + al.number;
  ComponentTable &input = flows_->RoutingInput;
  SubIntervalTable &sub = flows_->SubIntervalInput;
  if (z > input.LastIndex())
    return;
  for (int s = 1; s <= subIntervals_; ++s) {
    sub.Row(0, s)[z] = rate;
    for (int k = 1; k <= tracerCount_; ++k)
      sub.Row(k, s)[z] = input[k][own_];
  }
  input[0][z] = rate;
}

void routingclass::ApplyAbstractions(long year, long month, long day, long hour) {
  const bool initialising = month < 1;
  ComponentTable &input = flows_->RoutingInput;
  SubIntervalTable &sub = flows_->SubIntervalInput;
  const double area = tgArea_ / tgFactor_;
  double available = input[0][own_];
  if (counts_.SP > 0) {
    const SP_class &last = reservoirs_[static_cast<std::size_t>(counts_.SP)];
    available = ToMillimetres(
        (last.state[0] - ReservoirIrrigationVolume(initialising)) / dt_ / 60.0, area, dt_);
  }
  for (int e = 1; e <= counts_.AL; ++e) {
    AL_class &al = abstractions_[static_cast<std::size_t>(e)];
    if (al.mode == kAbstractionFromReservoir)
      continue;
    const double w = al.ComputeAbstraction(input, abstractionSum_, available,
                                           static_cast<int>(year), static_cast<int>(month),
                                           static_cast<int>(day), static_cast<int>(hour));
    vector_[0] = ToCubicMetresPerSecond(w, area, dt_);
    for (int k = 1; k <= tracerCount_; ++k)
      vector_[static_cast<std::size_t>(k)] =
          counts_.SP > 0
              ? reservoirs_[static_cast<std::size_t>(counts_.SP)].state[static_cast<std::size_t>(k)]
              : input[k][own_];
    if (!initialising)
      al.BufferRow(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                   static_cast<int>(hour), vector_.data());
    if (counts_.SP == 0) {
      input[0][own_] -= w;
      for (int s = 1; s <= subIntervals_; ++s)
        sub.Row(0, s)[own_] -= w;
    }
    if (al.mode == kAbstractionIntern || al.mode == kAbstractionInternWithRule)
      FeedInternalInflow(al, vector_[0]);
  }
}

void routingclass::BalanceReservoirs(long year, long month, long day, long hour) {
  if (counts_.SP == 0)
    return;
  const bool initialising = month < 1;
  ComponentTable &input = flows_->RoutingInput;
  SubIntervalTable &sub = flows_->SubIntervalInput;
  const double area = tgArea_ / tgFactor_;
  const double irrigation = ReservoirIrrigationVolume(initialising);
  const std::vector<AL_class *> none;
  for (int r = 1; r <= counts_.SP; ++r) {
    SP_class &sp = reservoirs_[static_cast<std::size_t>(r)];
    const bool last = r == counts_.SP;
    const double inflow = ToCubicMetresPerSecond(input[0][own_], area, dt_);
    const double abstracted = last && !initialising
                                  ? dt_ * 60.0 * ToCubicMetresPerSecond(abstractionSum_, area, dt_)
                                  : 0.0;
    for (int k = 1; k <= tracerCount_; ++k)
      vector_[static_cast<std::size_t>(k)] = input[k][own_];
    // A lake takes the water of its cells, spreads it with one level, and
    // puts what the step leaves back onto them.
    const bool lake = sp.IsLake() && lakeGrids_ != nullptr;
    LakeExchange exchange;
    if (lake) {
      sp.LoadLakeCells(*lakeGrids_);
      exchange = sp.TakeWaterFromCells();
    }
    sp.ComputeBalance(dt_, last ? irrigation : 0.0, abstracted, input, inflow, vector_.data(),
                      last ? directAbstractions_ : none, lake ? &exchange : nullptr,
                      static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                      static_cast<int>(hour));
    if (lake) {
      if (year >= 1)
        sp.SpreadOverCells();
      sp.StoreLakeCells(*lakeGrids_);
    }
    if (last)
      for (AL_class *al : directAbstractions_) {
        FeedInternalInflow(*al, al->rate[0]);
        vector_[0] = al->rate[0];
        for (int k = 1; k <= tracerCount_; ++k)
          vector_[static_cast<std::size_t>(k)] = sp.state[static_cast<std::size_t>(k)];
        if (!initialising)
          al->BufferRow(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                        static_cast<int>(hour), vector_.data());
      }
    input[0][own_] = ToMillimetres(sp.outflow, area, dt_);
    for (int k = 1; k <= tracerCount_; ++k)
      input[k][own_] = sp.state[static_cast<std::size_t>(k)];
    for (int s = 1; s <= subIntervals_; ++s)
      for (int k = 0; k <= tracerCount_; ++k)
        sub.Row(k, s)[own_] = input[k][own_];
    if (!initialising) {
      if (last && maxIrrigFromReservoirs_ != nullptr) {
        const double ownArea = OwnArea();
        (*maxIrrigFromReservoirs_)[0][own_] =
            ownArea > 0.0 ? sp.state[0] / (ownArea * 1000.0) : 0.0;
        for (int k = 1; k <= tracerCount_ && k <= maxIrrigFromReservoirs_->TracerCount(); ++k)
          (*maxIrrigFromReservoirs_)[k][own_] = sp.state[static_cast<std::size_t>(k)];
      }
      sp.BufferRow(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                   static_cast<int>(hour));
    }
  }
}

void routingclass::FlushOutputs() {
  for (int a = 1; a <= counts_.AL; ++a)
    abstractions_[static_cast<std::size_t>(a)].FlushBuffer(1);
  for (int r = 1; r <= counts_.SP; ++r)
    reservoirs_[static_cast<std::size_t>(r)].FlushBuffer(1);
}

} // namespace tavro

namespace tavro {
namespace {
constexpr const char *kConnectionLead =
    "\n ---> Error in connecting internal abstractions with internal inflows:\n";
} // namespace

void abflussmodellklasse::ConnectInternalAbstractions() {
  Log->Entry(
      Concat("checking connection of internal inflows and abstractions", DiagnosticsLog::EndToken));
  const int count = RoutingSubbasinCount();
  for (int n = 1; n <= count; ++n) {
    routingclass &target = RoutingSubbasin(n);
    for (int j = 1; j <= target.Counts().ZL; ++j) {
      const RoutingInflow &inflow = target.Inflow(j);
      if (inflow.kind != InflowKind::Internal)
        continue;
      int found = 0;
      for (int m = 1; m <= count; ++m) {
        routingclass &source = RoutingSubbasin(m);
        for (int a = 1; a <= source.Counts().AL; ++a) {
          AL_class &al = source.Abstraction(a);
          if (al.number != inflow.number || !AbstractionIsInternal(al.mode))
            continue;
          if (++found > 1 || al.TargetFlag() >= 1)
            ThrowFatal(*Log, 300,
                       Concat(kConnectionLead, "in routing description ", n, " for TG ",
                              target.TgCode(), ":\nInflow ", inflow.number,
                              " is already connected to an internal abstraction.\nEach abstaction "
                              "(AL-element) must be conencted to exactly one internal "
                              "inflow(ZL-element)\n"));
          if (m == n)
            ThrowFatal(*Log, 301,
                       Concat(kConnectionLead, "Abstraction AL ", al.number,
                              " from routing description ", m, " and inflow ZL ", inflow.number,
                              " are both defined for the same routing-subbasin TG ",
                              target.TgCode(), ".\nthis is not allowed\n"));
          const int firstChannel =
              target.Counts().OL > 0 ? Codes().IndexOf(target.Channel(1).tributaryCode) : 0;
          al.SetTargetPoint(target.OwnIndex(), firstChannel, target.TgArea());
        }
      }
      if (found == 0)
        ThrowFatal(*Log, 302,
                   Concat(kConnectionLead, "in routing description ", n, " for TG ",
                          target.TgCode(), ":\nInternal Inflow ZL ", inflow.number,
                          " has no conenction to an internal abstraction.\nthis is not allowed\n"));
    }
  }
  for (int m = 1; m <= count; ++m) {
    routingclass &source = RoutingSubbasin(m);
    for (int a = 1; a <= source.Counts().AL; ++a) {
      const AL_class &al = source.Abstraction(a);
      if (AbstractionIsInternal(al.mode) && al.TargetFlag() < 1)
        ThrowFatal(*Log, 303,
                   Concat(kConnectionLead, "in routing description ", m, " for TG ",
                          source.TgCode(), ":\nInternal abstraction AL ", al.number,
                          " is not connected to any internal inflow.\n"));
    }
  }
}

} // namespace tavro

namespace tavro {
namespace {
// A shortfall of this share of the withdrawal is the rounding of the unit
// conversions between the irrigation and the routing, not missing water.
constexpr double kRoundingShare = 1e-9;
} // namespace

double routingclass::WithdrawFromSubIntervals(int t, double amount) {
  SubIntervalTable &sub = flows_->SubIntervalInput;
  double shortfall = 0.0;
  for (int s = 1; s <= subIntervals_; ++s) {
    double &q = sub.Row(0, s)[t];
    if (q < amount)
      shortfall = std::max(shortfall, amount - q);
    q = std::max(0.0, q - amount);
  }
  return shortfall;
}

void routingclass::WithdrawIrrigationAtTributaries() {
  if (irrigationAmounts_ == nullptr || maxIrrig_ == nullptr)
    return;
  SubIntervalTable &sub = flows_->SubIntervalInput;
  auto withdraw = [&](int t) {
    if (t < 1 || t > nsub_ || static_cast<std::size_t>(t) > irrigationAmounts_->Records.Count() ||
        (*maxIrrig_)[0][t] != 0.0)
      return;
    for (int k = 0; k <= maxIrrig_->TracerCount() && k <= tracerCount_; ++k)
      (*maxIrrig_)[k][t] = sub.Row(k, 1)[t];
    const double amount = irrigationAmounts_->Records[static_cast<std::size_t>(t)].sx;
    if (amount <= 0.0)
      return;
    const double shortfall = WithdrawFromSubIntervals(t, amount);
    if (shortfall > kRoundingShare * amount)
      Log->Entry(Concat("WARNING: routing subbasin ", tgCode_, ": the river of subbasin index ", t,
                        " holds ", shortfall,
                        " mm less than its irrigation takes; the flow stops at 0",
                        DiagnosticsLog::EndToken));
  };
  for (int i = 1; i <= counts_.OL + counts_.SUMTRIB; ++i) {
    const RoutingChannel &channel = channels_[static_cast<std::size_t>(i)];
    for (const int code : channel.sumtribList)
      withdraw(codes_.IndexOf(code));
    withdraw(codes_.IndexOf(channel.tributaryCode));
  }
}

void routingclass::WithdrawIrrigationAtOutlet() {
  if (irrigationAmounts_ == nullptr || maxIrrig_ == nullptr || own_ < 1 ||
      static_cast<std::size_t>(own_) > irrigationAmounts_->Records.Count() ||
      (*maxIrrig_)[0][own_] != 0.0)
    return;
  ComponentTable &input = flows_->RoutingInput;
  const double relOwn = RelativeArea(own_); // whole upstream area
  const double relIrrigated = irrigationAmounts_->Records[static_cast<std::size_t>(own_)].rel;
  if (!(relOwn > 0.0) || !(relIrrigated > 0.0))
    return;
  (*maxIrrig_)[0][own_] = relOwn / relIrrigated * input[0][own_] / tgFactor_;
  for (int k = 1; k <= maxIrrig_->TracerCount() && k <= tracerCount_; ++k)
    (*maxIrrig_)[k][own_] = input[k][own_];
  const double u = relIrrigated / relOwn *
                   irrigationAmounts_->Records[static_cast<std::size_t>(own_)].sx * tgFactor_;
  if (u <= 0.0)
    return;
  const double shortfall = WithdrawFromSubIntervals(own_, u);
  input[0][own_] = std::max(0.0, input[0][own_] - u);
  if (shortfall > kRoundingShare * u)
    Log->Entry(Concat("WARNING: routing subbasin ", tgCode_, ": its outflow holds ", shortfall,
                      " mm less than its irrigation takes; the flow stops at 0",
                      DiagnosticsLog::EndToken));
}

} // namespace tavro
