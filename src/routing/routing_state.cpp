// The routing state section: the module writes "[routing_model]" as the
// first section of the state file and reads it back at set-up; each routing
// subbasin writes and reads its own block (storage chains of its channels'
// tributaries and inflows, sub-channel outflows, river records, reservoirs).
// Reals are written with round-trip digits so that a run split through the
// state file equals one long run; the last written element of every
// sub-channel and the flood plain's part of its outflows ride in the
// annotation of its flood share, where older files have none and readers of
// the layout skip them; without that part a file splits the outflows by the
// flood share.
#include "routing/routing_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/state_file.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace tavro {
namespace {

constexpr const char *kEndPositionLabel = " end position ";
constexpr const char *kFloodOutflowLabel = " flood plain outflow ";

std::string Format(const char *format, int a, int b, int c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Values separated by blanks, a line break after every tenth and after the last.
void WriteChain(StateFileWriter &file, const std::vector<double> &chain, int count) {
  for (int e = 1; e <= count; ++e) {
    file.Real(e < static_cast<int>(chain.size()) ? chain[static_cast<std::size_t>(e)] : 0.0);
    file.Text(" ");
    if (e % 10 == 0 || e == count)
      file.Text("\n");
  }
}

bool IsAbsolute(const std::string &name) {
  return !name.empty() && (name.front() == '/' || name.front() == '~');
}

// A value that cannot be read stays as it was: the reading is then out of
// step, and the next header that does not match names the position.
void ReadValue(StateFileReader &file, double &value) {
  if (const std::optional<double> read = file.TryReadReal())
    value = *read;
}

// The flood plain's part of a sub-channel's outflows from the annotation
// rest; a file without all K of them (written before the flood plain kept its
// own water) splits the outflows by the flood share, as they were split then.
void ReadFloodOutflow(const std::string &rest, double share, const double *outflow, double *flood,
                      int subIntervals) {
  int read = 0;
  const std::size_t at = rest.find(kFloodOutflowLabel);
  if (at != std::string::npos) {
    const char *text = rest.c_str() + at + std::string_view(kFloodOutflowLabel).size();
    for (char *next = nullptr; read < subIntervals; text = next) {
      const double value = std::strtod(text, &next);
      if (next == text)
        break;
      flood[++read] = value;
    }
  }
  if (read < subIntervals)
    for (int s = 1; s <= subIntervals; ++s)
      flood[s] = share * outflow[s];
}

} // namespace

int routingclass::StorageChainLength(int channel) const {
  return subIntervals_ + channels_[static_cast<std::size_t>(channel)].wqtab.storageElements;
}

void routingclass::WriteSubchannels(StateFileWriter &file, int channel, int label) {
  RoutingChannel &c = channels_[static_cast<std::size_t>(channel)];
  for (int sc = 1; sc <= c.Subchannels(); ++sc) {
    const double *outflow = c.QausRow(sc, subIntervals_);
    for (int s = 1; s <= subIntervals_; ++s) {
      file.Real(outflow[s]);
      file.Text(" ");
    }
    file.Text(Format(" (wqtab[local tributary %d].Qaus[subchannel %d][1..%d])\n", label, sc,
                     subIntervals_));
    file.Real(c.qvzuq[static_cast<std::size_t>(sc)]);
    file.Text(Format(" (wqtab[local tributary %d].qvzuq[subchannel %d])", label, sc));
    file.Text(kEndPositionLabel);
    file.Integer(c.endPosition[static_cast<std::size_t>(sc)]);
    file.Text(kFloodOutflowLabel);
    const double *flood = c.FloodOutflowRow(sc, subIntervals_);
    for (int s = 1; s <= subIntervals_; ++s) {
      file.Real(flood[s]);
      file.Text(s < subIntervals_ ? " " : "\n");
    }
  }
}

void routingclass::WriteStorage(StateFileWriter &file) {
  file.Integer(tgCode_);
  file.Text(" (routing subbasin with tributaries");
  for (int i = 1; i <= counts_.OL; ++i) {
    file.Text(" ");
    file.Integer(channels_[static_cast<std::size_t>(i)].tributaryCode);
  }
  file.Text("\n");
  const int routed = counts_.OL + counts_.SUMTRIB;
  for (int l = 1; l <= routed; ++l) {
    for (const int b : ChannelMembers(l)) {
      for (int t = 0; t <= tracerCount_; ++t) {
        file.Text(Format("%d %d (tracer/flow index and tributary subbasin)\n", t, b));
        WriteChain(file, flows_->InflowSeries.Chain(t, b), StorageChainLength(l));
      }
      WriteSubchannels(file, l, l);
      if (riverflow_ != nullptr && b >= 1 &&
          static_cast<std::size_t>(b) <= riverflow_->Records.Count()) {
        const RiverflowRecord &r = riverflow_->Records[static_cast<std::size_t>(b)];
        for (int k = 0; k <= tracerCount_; ++k) {
          file.Real(r.flow_mm[static_cast<std::size_t>(k)]);
          file.Text(" ");
        }
        file.Text(Format("(riverflow_table[%d].flow_mm[%d])\n", b, tracerCount_ + 1));
        file.Real(r.flowm3s);
        file.Text(" ");
        file.Real(r.speed);
        file.Text(Format(" (riverflow_table[%d].flowm3s/speed\n", b, 0));
      }
    }
  }
  for (int j = 1; j <= counts_.ZL; ++j) {
    const int l = routed + j;
    const int b = nsub_ + inflows_[static_cast<std::size_t>(j)].number;
    for (int t = 0; t <= tracerCount_; ++t) {
      file.Text(Format("%d %d (tracer/flow index and external inflow)\n", t, b));
      WriteChain(file, flows_->InflowSeries.Chain(t, b), StorageChainLength(l));
    }
    WriteSubchannels(file, l, j);
  }
  file.Integer(counts_.SP);
  file.Text(" (number of reservoirs)\n");
  ReservoirStates();
  for (int r = 1; r <= counts_.SP; ++r) {
    for (int k = 0; k <= tracerCount_; ++k) {
      file.Real(reservoirStates_[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)]);
      file.Text(" ");
    }
    file.Text(Format(" (reservoir %d)\n", r, 0));
  }
  file.Text("\n\n");
}

std::vector<std::vector<double>> &routingclass::ReservoirStates() {
  if (reservoirStates_.size() != static_cast<std::size_t>(counts_.SP) + 1)
    reservoirStates_.assign(static_cast<std::size_t>(counts_.SP) + 1,
                            std::vector<double>(static_cast<std::size_t>(tracerCount_) + 1, 0.0));
  // The reservoirs' volumes and concentrations are what the section stores.
  for (int r = 1; r <= counts_.SP && static_cast<std::size_t>(r) < reservoirs_.size(); ++r) {
    const std::vector<double> &state = reservoirs_[static_cast<std::size_t>(r)].state;
    if (state.size() == static_cast<std::size_t>(tracerCount_) + 1)
      reservoirStates_[static_cast<std::size_t>(r)] = state;
  }
  return reservoirStates_;
}

void routingclass::ReadSubchannels(StateFileReader &file, int channel, int &position) {
  RoutingChannel &c = channels_[static_cast<std::size_t>(channel)];
  for (int sc = 1; sc <= c.Subchannels(); ++sc) {
    ++position;
    double *outflow = c.QausRow(sc, subIntervals_);
    for (int s = 1; s <= subIntervals_; ++s)
      ReadValue(file, outflow[s]);
    file.SkipLine();
    ++position;
    ReadValue(file, c.qvzuq[static_cast<std::size_t>(sc)]);
    const std::string rest = file.RestOfLine();
    const std::size_t at = rest.find(kEndPositionLabel);
    if (at != std::string::npos) {
      const long end =
          std::strtol(rest.c_str() + at + std::string(kEndPositionLabel).size(), nullptr, 10);
      // Only an end inside the sub-channel's part of the chain is taken.
      const int partLength = c.PartLength(subIntervals_);
      if (end >= (sc - 1) * partLength && end <= sc * partLength + subIntervals_)
        c.endPosition[static_cast<std::size_t>(sc)] = static_cast<int>(end);
    }
    ReadFloodOutflow(rest, c.qvzuq[static_cast<std::size_t>(sc)], outflow,
                     c.FloodOutflowRow(sc, subIntervals_), subIntervals_);
  }
}

std::string routingclass::StateMessage(const char *what, int position) const {
  return Concat(what, " in file ", stateFileName_, " (position ", position, ")");
}

void routingclass::ReadStorage(StateFileReader &file, const std::string &fileName) {
  stateFileName_ = fileName;
  int position = 1;
  file.ExpectInteger(tgCode_, StateMessage("error reading subbasin code", position));
  file.SkipLine();
  const int routed = counts_.OL + counts_.SUMTRIB;
  auto chains = [&](int l, int b, const char *what) {
    for (int t = 0; t <= tracerCount_; ++t) {
      ++position;
      file.ExpectInteger(t, StateMessage("error reading tracer code", position));
      file.ExpectInteger(b, StateMessage(what, position));
      file.SkipLine();
      std::vector<double> &chain = flows_->InflowSeries.Chain(t, b);
      const int count = StorageChainLength(l);
      if (static_cast<int>(chain.size()) < count + 1)
        chain.resize(static_cast<std::size_t>(count) + 1, 0.0);
      for (int e = 1; e <= count; ++e)
        ReadValue(file, chain[static_cast<std::size_t>(e)]);
    }
  };
  for (int l = 1; l <= routed; ++l) {
    for (const int b : ChannelMembers(l)) {
      chains(l, b, "error reading tributary index");
      ReadSubchannels(file, l, position);
      if (riverflow_ != nullptr && b >= 1 &&
          static_cast<std::size_t>(b) <= riverflow_->Records.Count()) {
        RiverflowRecord &r = riverflow_->Records[static_cast<std::size_t>(b)];
        ++position;
        for (int k = 0; k <= tracerCount_; ++k)
          ReadValue(file, r.flow_mm[static_cast<std::size_t>(k)]);
        file.SkipLine();
        ++position;
        ReadValue(file, r.flowm3s);
        ReadValue(file, r.speed);
        file.SkipLine();
      }
    }
  }
  for (int j = 1; j <= counts_.ZL; ++j) {
    const int l = routed + j;
    chains(l, nsub_ + inflows_[static_cast<std::size_t>(j)].number,
           "error reading tributary index");
    ReadSubchannels(file, l, position);
  }
  ++position;
  file.ExpectInteger(counts_.SP, StateMessage("error reading reservoir code", position));
  file.SkipLine();
  ReservoirStates();
  for (int r = 1; r <= counts_.SP; ++r) {
    ++position;
    for (int k = 0; k <= tracerCount_; ++k)
      ReadValue(file, reservoirStates_[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)]);
    file.SkipLine();
    // A lake takes its water from its cells at the start of every step; the
    // stored values only stand for the water before that first step.
    if (static_cast<std::size_t>(r) < reservoirs_.size())
      reservoirs_[static_cast<std::size_t>(r)].state =
          reservoirStates_[static_cast<std::size_t>(r)];
  }
}

void abflussmodellklasse::ReadStorage(const std::string &fileName, int readMode) {
  if (FlowControl == 0)
    return;
  // The file is also where the section is written at the end of the run.
  storageFileName_ = fileName;
  if (readMode == 0 || readMode == 2 || readMode == 4 || fileName.empty())
    return;
  StateFileReader file(*this, fileName,
                       [this](std::string_view description, double, std::optional<double>) {
                         ThrowFatal(*Log, kStateMismatchExitCode, std::string(description));
                       });
  if (!file.IsOpen())
    ThrowFatal(*Log, StorageOpenExitCode, "error opening storage content file " + file.Path());
  if (!file.FindSection(StateSection))
    ThrowFatal(*Log, kStateMismatchExitCode,
               Concat("error looking for the section ", FixedName, " in ", file.Path()));
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).ReadStorage(file, file.Path());
}

void abflussmodellklasse::WriteStorage() {
  if (FlowControl == 0 || MPIRank != 0)
    return;
  if (storageFileName_.empty()) {
    // Nobody asked for this file: one that cannot be written only warns.
    const std::string name = DefaultStateFile;
    const std::string path = IsAbsolute(name) ? name : DefaultOutputDirectory + name;
    std::FILE *probe = std::fopen(path.c_str(), "w");
    if (probe == nullptr) {
      Log->Entry(Concat("WARNING: couldn\xC2\xB4t open file ", path,
                        " \n(no filename was given or model version \ndoesn\xC2\xB4t support this "
                        "feature or the current user has no write access)",
                        DiagnosticsLog::EndToken));
      return;
    }
    std::fclose(probe);
  }
  StateFileWriter file(*this, storageFileName_.empty() ? DefaultStateFile : storageFileName_,
                       false);
  file.Header(StateSection);
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).WriteStorage(file);
  file.Text("\n");
  file.Close();
}

} // namespace tavro
