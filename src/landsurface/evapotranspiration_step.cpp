// The potential evapotranspiration step: the step frame (date, progress line,
// day and night of the step, the sunshine memory and the clear-sky geometry,
// the temperature amplitude of the date), the parallel loop over the computed
// cells with the radiation balance and the method of the cell, the copies of
// the spin-up units, the statistics and the grid output.
#include "kernel/fatal_error.h"
#include "landsurface/evapotranspiration/penman_monteith.h"
#include "landsurface/evapotranspiration/single_layer_pet.h"
#include "landsurface/evapotranspiration_model.h"
#include "tables/multilayer_landuse.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace tavro {
namespace {

namespace et = evapotranspiration;

} // namespace

void verdunstungsmodellklasse::PotentialEvapotranspiration(long hour, long day, long month,
                                                           long year) {
  if (FlowControl == 0)
    return;
  // The sun's position follows the local time of the data.
  ActualHour = static_cast<long>(static_cast<double>(hour) + TimeShift);
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
  LogStepLine("pot. evaptranspir.", hour, day, month, year);
  dayOfYear_ = solar::DayOfYear(day, month);
  for (std::size_t k = 0; k < potentialTranspirationStatistics_.size(); ++k) {
    (*potentialTranspirationStatistics_[k])->ResetStep();
    (*potentialInterceptionStatistics_[k])->ResetStep();
  }
  (*potentialEvaporationStatistics_)->ResetStep();
  (*correctedRadiationStatistics_)->ResetStep();
  (*cloudinessStatistics_)->ResetStep();
  DaylightFraction();
  const StepValues step = BeginPotentialStep();

  const CellIteration cells(Cells(true));
  const double start = omp_get_wtime();
  cells.ForEachCell([&](long row, long column) {
    const radiation::CellRadiation cell = RadiationOfCell(row, column, step);
    (*potentialEvaporation_)[row][column] = 0.0;
    (*realEvaporation_)[row][column] = 0.0;
    (*snowEvaporation_)[row][column] = 0.0;
    if (section_.method == 1)
      PenmanMonteithCell(row, column, cell, step);
    else
      SingleLayerCell(row, column, cell, step);
  });
  const double loopEnd = omp_get_wtime();

  std::vector<Grid *> copied;
  for (int k = 0; k <= layerCount_; ++k) {
    copied.push_back(potentialTranspiration_[static_cast<std::size_t>(k)]);
    copied.push_back(potentialInterception_[static_cast<std::size_t>(k)]);
  }
  copied.insert(copied.end(), {potentialEvaporation_, correctedRadiation_, cloudiness_});
  cells.CopyMasterResults(copied);
  AddPotentialStatistics();
  ActualHour = hour;
  EndPotentialStep(hour, day, month, year);
  stepTimes_ = {loopEnd - start, omp_get_wtime() - loopEnd};
}

verdunstungsmodellklasse::StepValues verdunstungsmodellklasse::BeginPotentialStep() {
  const int method = section_.method;
  StepValues step;
  // Hamon and Haude need no radiation: their steps count as night for it.
  if (method == 2 || method == 4)
    IsNight = 1;
  step.night = IsNight != 0;
  UpdateSunshineMemory();
  const bool measuredBoth = (inputMask_ & SunshineBit) && (inputMask_ & RadiationBit);
  step.clearSky = (method == 1 || method == 3) && !step.night && !measuredBoth;
  if (step.clearSky) {
    const radiation::ClearSkyStep geometry{
        ActualDay,          ActualMonth, static_cast<double>(ActualHour),
        HoursToIntervalEnd, TimeStep,    DayFraction,
        NightBeforeSunrise};
    clearSky_.Compute(geometry, {Latitude, Longitude, ReferenceMeridian});
    step.transmissivity = radiation::Transmissivity(
        section_.transmissivityMean, section_.transmissivityAmplitude, ActualDay, ActualMonth);
  }
  step.radiationCap = radiation::RadiationCap(TimeStep, DayFraction);
  const int month = solar::ClampMonth(ActualMonth);
  const int daysInMonth = DaysPerMonth[static_cast<std::size_t>(month)];
  if (method == 1 && TimeStep > 720.0) {
    step.amplitudeOfDate = et::AmplitudeOfDate(section_.amplitudes, ActualDay, month, daysInMonth);
    step.annualTerm = et::AnnualTerm(section_.annualAmplitude, dayOfYear_);
  }
  if (method == 2)
    step.hamonFactor = et::HamonFactorOfDate(section_.pec, ActualDay, month, daysInMonth);
  if (method == 4)
    step.haudeFactor = section_.fh[static_cast<std::size_t>(month)];
  return step;
}

void verdunstungsmodellklasse::UpdateSunshineMemory() {
  const radiation::SunshineMemory::Action action = sunshineState_.BeginStep(DayFraction);
  if (action == radiation::SunshineMemory::Action::Keep)
    return;
  Grid &memory = *sunshineMemory_;
  CellIterationSetup own = Cells(false);
  own.UnitGrid = nullptr; // every valid cell of the process
  CellIteration(own).ForEachCell([&](long row, long column) {
    double &value = memory[row][column];
    value =
        action == radiation::SunshineMemory::Action::Reset ? 0.0 : sunshineState_.Averaged(value);
  });
}

bool verdunstungsmodellklasse::IsOpenWater(long row, long column) const {
  return lakeCodes_ != nullptr && ponding_ != nullptr && (*lakeCodes_)[row][column] > 0.0 &&
         (*ponding_)[row][column] > 0.0;
}

radiation::CellRadiation verdunstungsmodellklasse::RadiationOfCell(long row, long column,
                                                                   const StepValues &step) {
  double &remembered = (*sunshineMemory_)[row][column];
  radiation::CellRadiation cell;
  if (step.night) {
    cell = radiation::CellRadiationOfNight(remembered);
  } else {
    radiation::CellRadiationInput in;
    if (inputMask_ & SunshineBit)
      in.sunshine = (*sunshine_)[row][column];
    if (inputMask_ & RadiationBit)
      in.radiation = (*radiation_)[row][column];
    if (radiationCorrection_ != nullptr)
      in.correction = (*radiationCorrection_)[row][column];
    if (step.clearSky) {
      const double pressure =
          (inputMask_ & AirPressureBit)
              ? (*airPressure_)[row][column]
              : et::BarometricPressure((*elevation_)[row][column], (*dayTemperature_)[row][column]);
      in.clearSky = clearSky_.ClearSkyRadiation(step.transmissivity, pressure);
    }
    in.cap = step.radiationCap;
    if (IsOpenWater(row, column))
      in.albedo = lake_.albedo;
    else if (albedo_ != nullptr)
      in.albedo = (*albedo_)[row][column];
    cell = radiation::CellRadiationOfDay(section_.radiation, in);
    // Later modules of the step see the measured radiation corrected for exposure.
    if (in.radiation && in.correction)
      (*radiation_)[row][column] = cell.correctedInput;
    remembered = sunshineState_.Remember(remembered, cell.sunshine);
  }
  (*correctedRadiation_)[row][column] = cell.global;
  (*cloudiness_)[row][column] = cell.cloudiness;
  return cell;
}

void verdunstungsmodellklasse::PenmanMonteithCell(long row, long column,
                                                  const radiation::CellRadiation &radiation,
                                                  const StepValues &step) {
  const double elevation = (*elevation_)[row][column];
  if (TimeStep > 720.0) {
    // Long steps: the day warms and the night cools by the amplitude of the date.
    const et::TemperatureShift shift =
        et::DayNightShift(radiation.relative, step.amplitudeOfDate, elevation,
                          section_.amplitudeScale, section_.amplitudeFractionDay, step.annualTerm);
    (*dayTemperature_)[row][column] += shift.dayRise;
    (*nightTemperature_)[row][column] -= shift.nightFall;
  }
  const bool dayRuns = DayFraction >= et::kSmallestPart;
  const bool nightRuns = NightFraction >= et::kSmallestPart;

  // The air and the energy of the top layer in each part.
  struct Part {
    bool runs = false;
    et::StepPart part = et::StepPart::Night;
    double fraction = 0.0;
    et::LayerWeather air;
    double energy = 0.0;
  };
  std::array<Part, 2> parts;
  parts[0] = {nightRuns, et::StepPart::Night, NightFraction, {}, 0.0};
  parts[1] = {dayRuns, et::StepPart::Day, DayFraction, {}, 0.0};
  for (Part &p : parts) {
    if (!p.runs)
      continue;
    const double t = p.part == et::StepPart::Day ? (*dayTemperature_)[row][column]
                                                 : (*nightTemperature_)[row][column];
    p.air.temperature = t;
    p.air.pressure = (inputMask_ & AirPressureBit) ? (*airPressure_)[row][column]
                                                   : et::BarometricPressure(elevation, t);
    p.air.vapourPressure = (inputMask_ & VapourPressureBit)
                               ? (*vapourPressure_)[row][column]
                               : (*humidity_)[row][column] * et::SaturationVapourPressure(t);
    p.air.wind = (*wind_)[row][column];
    if (netRadiation_) {
      p.energy = p.part == et::NetRadiationPart(DayFraction)
                     ? et::AvailableEnergyFromNetRadiation((*radiation_)[row][column], t)
                     : 0.0;
    } else {
      const double loss = et::LongWaveLoss(p.air.vapourPressure, section_.radiation.c[0],
                                           radiation.sunshine, p.fraction, TimeStep, t);
      p.energy = p.part == et::StepPart::Day
                     ? et::AvailableEnergyOfDay(radiation.netShortwave, loss, t)
                     : et::AvailableEnergyOfNight(loss, t);
    }
  }

  // The multilayer type of the cell gives the light extinction and the
  // resistance increase per leaf area above a layer.
  double extinction = multilayer::DefaultExtinction;
  double resistancePerLeafArea = multilayer::DefaultLaiScale;
  if (layerCount_ > 1 && MultilayerTable != nullptr) {
    const double type = (*landuse_[0])[row][column];
    if (type >= 1.0 && type <= static_cast<double>(MultilayerTable->Count())) {
      const multilayer_landuse_class &record =
          (*MultilayerTable)[static_cast<std::size_t>(std::lround(type))];
      extinction = record.k_extinct;
      resistancePerLeafArea = record.LAI_scale;
    }
  }
  // The lowest layer with a land use stands on the soil; the highest one
  // takes the energy and sets the aerodynamic resistance of the canopy.
  int lowest = 0;
  for (int k = layerCount_; k >= 1 && lowest == 0; --k)
    if ((*landuse_[static_cast<std::size_t>(k)])[row][column] > NoData)
      lowest = k;

  double &total = (*potentialTranspiration_[0])[row][column];
  double &totalInterception = (*potentialInterception_[0])[row][column];
  double &soil = (*potentialEvaporation_)[row][column];
  total = 0.0;
  totalInterception = 0.0;
  (*realTranspiration_[0])[row][column] = 0.0;
  et::LayerCarry carry;
  bool top = true;
  for (int k = 1; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    double &transpiration = (*potentialTranspiration_[i])[row][column];
    double &interception = (*potentialInterception_[i])[row][column];
    (*realTranspiration_[i])[row][column] = 0.0;
    if (!((*landuse_[i])[row][column] > NoData)) {
      transpiration = 0.0;
      interception = 0.0;
      continue;
    }
    et::LayerVegetation vegetation;
    vegetation.leafAreaIndex = (*leafAreaIndex_[i])[row][column];
    vegetation.vegetationCover = (*vegetationCover_[i])[row][column];
    vegetation.canopyResistance = (*canopyResistance_[i])[row][column];
    vegetation.interceptionResistance = (*interceptionResistance_[i])[row][column];
    vegetation.roughnessLength = (*roughnessLength_[i])[row][column];
    vegetation.soilResistance = (*soilResistance_)[row][column];
    vegetation.extinction = extinction;
    vegetation.resistancePerLeafArea = resistancePerLeafArea;
    vegetation.lowest = k == lowest;
    const double leafArea = vegetation.leafAreaIndex;
    if (vegetation.lowest && IsOpenWater(row, column))
      vegetation = et::OpenWaterVegetation(vegetation, lake_.roughnessLength);

    et::LayerRates sum;
    for (const Part &p : parts) {
      if (!p.runs)
        continue;
      const et::LayerStep layerStep{top ? 1 : k, p.part, p.fraction, TimeStep, p.energy};
      const et::LayerRates rates = et::PenmanMonteithLayer(layerStep, p.air, vegetation, carry);
      sum.transpiration += rates.transpiration;
      sum.interceptionEvaporation += rates.interceptionEvaporation;
      sum.soilEvaporation += rates.soilEvaporation;
    }
    transpiration = std::max(0.0, sum.transpiration);
    interception = std::max(0.0, sum.interceptionEvaporation);
    soil += sum.soilEvaporation;
    total += transpiration;
    totalInterception += interception;
    carry.leafAreaAbove += leafArea;
    top = false;
  }
  total += soil;
}

void verdunstungsmodellklasse::SingleLayerCell(long row, long column,
                                               const radiation::CellRadiation &radiation,
                                               const StepValues &step) {
  const double t = (*dayTemperature_)[row][column];
  double amount = 0.0;
  switch (section_.method) {
  case 2:
    amount = et::HamonOfStep(t, step.hamonFactor, DayFraction, TimeStep);
    break;
  case 3: {
    const double albedo = IsOpenWater(row, column) ? lake_.albedo : (*albedo_)[row][column];
    amount = et::WendlingOfStep(radiation.global, albedo, section_.coastFactor, t, TimeStep);
    break;
  }
  case 4: {
    const double deficit =
        (inputMask_ & HumidityBit)
            ? et::HaudeDeficitFromHumidity((*humidity_)[row][column])
            : et::HaudeDeficitFromVapourPressure((*vapourPressure_)[row][column],
                                                 et::HaudeSaturationVapourPressure(t));
    amount = et::HaudeOfStep(t, deficit, step.haudeFactor, TimeStep);
    break;
  }
  default:
    break;
  }
  for (std::size_t k = 0; k <= 1; ++k) {
    (*potentialTranspiration_[k])[row][column] = amount;
    (*potentialInterception_[k])[row][column] = amount;
    (*realTranspiration_[k])[row][column] = 0.0;
  }
}

void verdunstungsmodellklasse::AddPotentialStatistics() {
  // One job per table: its grid, and for a layer the land use without which
  // the layer counts 0.
  struct Job {
    ModuleStatistic *table;
    const Grid *values;
    const Grid *landuse;
  };
  std::vector<Job> jobs;
  const auto add = [&](std::unique_ptr<ModuleStatistic> &table, const Grid *values,
                       const Grid *landuse) {
    if ((*table)->Active())
      jobs.push_back({table.get(), values, landuse});
  };
  if (section_.method == 1)
    for (int k = 1; k <= layerCount_; ++k) {
      const auto i = static_cast<std::size_t>(k);
      add(potentialTranspirationStatistics_[i], potentialTranspiration_[i], landuse_[i]);
      add(potentialInterceptionStatistics_[i], potentialInterception_[i], landuse_[i]);
    }
  add(potentialTranspirationStatistics_[0], potentialTranspiration_[0], nullptr);
  add(potentialInterceptionStatistics_[0], potentialInterception_[0], nullptr);
  add(potentialEvaporationStatistics_, potentialEvaporation_, nullptr);
  add(correctedRadiationStatistics_, correctedRadiation_, nullptr);
  add(cloudinessStatistics_, cloudiness_, nullptr);

  ForEachTableJob(jobs.size(), [&](std::size_t j) {
    const Job &job = jobs[j];
    zonalstatistic &table = **job.table;
    for (const StatisticsCell &cell : statisticsCells_) {
      const bool counts = job.landuse == nullptr || (*job.landuse)[cell.row][cell.column] > NoData;
      table.AddValue(cell.row, cell.column, cell.zone,
                     counts ? (*job.values)[cell.row][cell.column] : 0.0, 1.0);
    }
  });
}

void verdunstungsmodellklasse::EndPotentialStep(long hour, long day, long month, long year) {
  for (int k = 0; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    (*potentialTranspirationStatistics_[i])->EndOfStep(year, month, day, hour, 1);
    (*potentialInterceptionStatistics_[i])->EndOfStep(year, month, day, hour, 1);
    WriteGridOutput(indexes_.potentialTranspiration[i]);
    WriteGridOutput(indexes_.potentialInterception[i]);
  }
  (*potentialEvaporationStatistics_)->EndOfStep(year, month, day, hour, 1);
  WriteGridOutput(indexes_.potentialEvaporation);
  (*correctedRadiationStatistics_)->EndOfStep(year, month, day, hour, 1);
  (*cloudinessStatistics_)->EndOfStep(year, month, day, hour, 1);
}

} // namespace tavro
