// Benchmarks lintrel-cli over pseudo-terminals against two peers on the same workloads:
// the floor (bench/floor_typer.cpp, the least a typer can do) and the shell loop a Linux
// user would write around xdotool. Keys go into a window of the benchmark's own on a
// private Xvfb server, which time-stamps every key press.
//
// Prints a table on standard output, progress on standard error, and writes every figure
// to a JSON file.

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_stages.h"
#include "bench/bench_uinput.h"
#include "bench/bench_workloads.h"

namespace lintrel::bench {
namespace {

using std::chrono::seconds;

constexpr std::array<SubjectKind, 3> kSubjects = {SubjectKind::kLintrel, SubjectKind::kFloor,
                                                  SubjectKind::kShellLoop};
constexpr std::array<int, 4> kCorrectnessPorts = {1, 8, 64, 256};
constexpr std::array<int, 3> kMemoryPorts = {1, 64, 256};
constexpr std::array<int, 2> kPacedBauds = {9600, 115200};
constexpr int kIdlePorts = 16;
constexpr double kKiBPerMiB = 1024;

// How much of each workload a run does. The shell loop types about 27 lines a second, so
// it gets fewer lines and a time limit.
struct Plan {
  bool quick = false;
  int latency_lines = 1000;
  int shell_latency_lines = 200;
  int throughput_lines = 5000;
  int shell_throughput_lines = 150;
  int throughput_rounds = 3;  // lintrel and the floor alternate; the median round counts
  int uinput_guest_lines = 2000;
  std::array<int, 2> paced_lines = {1000, 2000};
  int shell_paced_lines = 100;
  long correctness_lines = 1024;  // on all ports together
  std::array<long, 4> shell_lines_per_port = {100, 12, 2, 1};
  seconds idle_time{10};
  seconds shell_limit{90};
};

Plan QuickPlan() {
  Plan plan;
  plan.quick = true;
  plan.shell_latency_lines = 40;
  plan.throughput_lines = 1000;
  plan.shell_throughput_lines = 40;
  plan.throughput_rounds = 2;
  plan.uinput_guest_lines = 500;
  plan.paced_lines = {150, 500};
  plan.shell_paced_lines = 40;
  plan.correctness_lines = 256;
  plan.shell_lines_per_port = {32, 4, 1, 1};
  plan.idle_time = seconds(3);
  plan.shell_limit = seconds(40);
  return plan;
}

struct Options {
  Plan plan;
  std::string json_path = "build/linux/bench/results.json";
  Programs programs{LINTREL_BENCH_CLI_PATH, LINTREL_BENCH_FLOOR_PATH};
  // --compare: the lintrel-cli to compare this one with, throughput alone
  std::string compared_cli;
  int compare_rounds = 0;  // 0: the plan's
  bool paste = false;      // --paste: long lines typed by keys against pasted, alone
  bool help = false;
  std::string error;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc && options.error.empty(); ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 < argc) return argv[++i];
      options.error = arg + " needs a value";
      return {};
    };
    if (arg == "--quick") {
      options.plan = QuickPlan();
    } else if (arg == "--json") {
      options.json_path = value();
    } else if (arg == "--cli") {
      options.programs.lintrel_cli = value();
    } else if (arg == "--floor") {
      options.programs.floor_typer = value();
    } else if (arg == "--compare") {
      options.compared_cli = value();
    } else if (arg == "--paste") {
      options.paste = true;
    } else if (arg == "--rounds") {
      options.compare_rounds = std::atoi(value().c_str());
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else {
      options.error = "unknown argument " + arg;
    }
  }
  return options;
}

constexpr char kUsage[] =
    "Usage: lintrel_bench [--quick] [--json PATH] [--cli PATH] [--floor PATH] [--compare PATH | --paste]\n"
    "                     [--rounds N]\n"
    "  --quick         fewer lines and a 3 s idle period (about a minute in all)\n"
    "  --json PATH     where to write every figure (default build/linux/bench/results.json)\n"
    "  --cli PATH      the lintrel-cli to measure; --floor PATH the floor typer\n"
    "  --compare PATH  only the throughput of ASCII and Unicode-heavy lines, in rounds that\n"
    "                  alternate the lintrel-cli measured with the one at PATH (another build)\n"
    "  --paste         only the throughput of 2,000-character lines, typed by keys and pasted\n"
    "                  (--delivery paste), in rounds that alternate the two\n"
    "  --rounds N      with --compare: N rounds (default 16, 6 with --quick); with --paste\n"
    "                  (default 3, 2 with --quick)\n";

void Progress(const std::string& text) {
  std::fprintf(stderr, "bench: %s\n", text.c_str());
  std::fflush(stderr);
}

std::size_t Index(SubjectKind kind) { return static_cast<std::size_t>(kind); }

template <typename Result>
using PerSubject = std::array<Result, 3>;

// Every figure measured, for the table and the JSON file.
struct Results {
  LatencyResult trace_latency;
  // lintrel-cli on a network port (tcp://) instead of a pseudo-terminal.
  LatencyResult tcp_trace_latency;
  ThroughputResult tcp_throughput;
  PerSubject<LatencyResult> x11_latency;
  PerSubject<ThroughputResult> throughput;
  ThroughputResult shaped_throughput;  // lintrel with a suffix and two replacements
  std::array<PerSubject<PacedResult>, 2> paced;
  std::array<PerSubject<CorrectnessResult>, 4> correctness;
  PerSubject<IdleResult> idle;
  UinputGuestResult uinput_guest;
  LineRateResult unicode;    // lintrel-cli, lines of characters outside the keymap
  LineRateResult key_delay;  // lintrel-cli --key-delay 1
  std::vector<StageCost> stage_costs;  // shaping and the record stage, in process
};

// 13 characters, most of which the US keymap lacks (typed on spare keycodes) or types with
// Shift: the costly end of typing.
constexpr std::string_view kUnicodeLine = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\xCE\xA9\xC3\xA9\xC3\x85-\xC3\xB1\xE2\x84\xA2";

void ReportError(const std::string& what, SubjectKind kind, const std::string& error) {
  if (!error.empty()) Progress(what + " " + SubjectName(kind) + ": " + error);
}

// The round with the median rate; a failed round ranks lowest.
ThroughputResult MedianRound(std::vector<ThroughputResult> rounds) {
  std::sort(rounds.begin(), rounds.end(), [](const ThroughputResult& a, const ThroughputResult& b) {
    return a.lines_per_second < b.lines_per_second;
  });
  return rounds[rounds.size() / 2];
}

Results RunAll(const Stage& stage, const Plan& plan) {
  Results results;
  const auto shell = [](SubjectKind kind) { return kind == SubjectKind::kShellLoop; };
  const auto per_line_limit = [&](SubjectKind kind) {
    return shell(kind) ? seconds(3) : seconds(1);
  };

  Progress("latency, trace sink: lintrel, " + std::to_string(plan.latency_lines) + " lines");
  results.trace_latency =
      MeasureIsolatedLatency(stage, SubjectKind::kLintrel, true, plan.latency_lines, seconds(1));
  ReportError("latency trace", SubjectKind::kLintrel, results.trace_latency.error);
  Progress("latency, trace sink, TCP port: lintrel, " + std::to_string(plan.latency_lines) + " lines");
  results.tcp_trace_latency = MeasureIsolatedLatency(stage, SubjectKind::kLintrel, true, plan.latency_lines,
                                                     seconds(1), PortDevice::kNetwork);
  ReportError("latency trace, TCP port", SubjectKind::kLintrel, results.tcp_trace_latency.error);

  for (SubjectKind kind : kSubjects) {
    const int lines = shell(kind) ? plan.shell_latency_lines : plan.latency_lines;
    Progress(std::string("latency, x11: ") + SubjectName(kind) + ", " + std::to_string(lines) +
             " lines");
    LatencyResult& result = results.x11_latency[Index(kind)];
    result = MeasureIsolatedLatency(stage, kind, false, lines, per_line_limit(kind));
    ReportError("latency x11", kind, result.error);
  }
  PerSubject<std::vector<ThroughputResult>> rounds;
  std::vector<ThroughputResult> shaped_rounds;
  const auto measure_shaped = [&](int round, int lines) {
    Progress("throughput, x11, round " + std::to_string(round + 1) + ": lintrel shaped, " +
             std::to_string(lines) + " lines");
    shaped_rounds.push_back(MeasureThroughput(stage, SubjectKind::kLintrelShaped, lines, seconds(60)));
    ReportError("throughput", SubjectKind::kLintrelShaped, shaped_rounds.back().error);
  };
  for (int round = 0; round < plan.throughput_rounds; ++round) {
    for (SubjectKind kind : kSubjects) {
      if (shell(kind) && round > 0) continue;  // one round of the slow peer is enough
      const int lines = shell(kind) ? plan.shell_throughput_lines : plan.throughput_lines;
      // Shaped lines next to plain lintrel, before it in every other round, so that neither
      // always meets the machine as the other left it.
      const bool shaped_first = round % 2 == 1;
      if (kind == SubjectKind::kLintrel && shaped_first) measure_shaped(round, lines);
      Progress("throughput, x11, round " + std::to_string(round + 1) + ": " + SubjectName(kind) +
               ", " + std::to_string(lines) + " lines");
      ThroughputResult result =
          MeasureThroughput(stage, kind, lines, shell(kind) ? plan.shell_limit : seconds(60));
      ReportError("throughput", kind, result.error);
      rounds[Index(kind)].push_back(result);
      if (kind == SubjectKind::kLintrel && !shaped_first) measure_shaped(round, lines);
    }
  }
  Progress("throughput, x11, TCP port: lintrel, " + std::to_string(plan.throughput_lines) + " lines");
  results.tcp_throughput =
      MeasureThroughput(stage, SubjectKind::kLintrel, plan.throughput_lines, seconds(60), PortDevice::kNetwork);
  ReportError("throughput, TCP port", SubjectKind::kLintrel, results.tcp_throughput.error);
  results.shaped_throughput = MedianRound(shaped_rounds);
  for (SubjectKind kind : kSubjects)
    results.throughput[Index(kind)] = MedianRound(rounds[Index(kind)]);
  Progress("throughput, x11: lintrel, Unicode-heavy lines, " + std::to_string(plan.throughput_lines) + " lines");
  results.unicode = MeasureLineRate(stage, {"--encoding", "utf-8"}, kUnicodeLine, plan.throughput_lines, seconds(60));
  ReportError("unicode", SubjectKind::kLintrel, results.unicode.error);
  const int stage_lines = plan.quick ? 200000 : 1000000;
  Progress("line stages in process: shaping and records, " + std::to_string(stage_lines) + " lines each");
  results.stage_costs = MeasureStageCosts(stage_lines);
  const int paced_lines = plan.quick ? 50 : 200;
  Progress("throughput, x11: lintrel --key-delay 1, " + std::to_string(paced_lines) + " lines");
  results.key_delay = MeasureLineRate(stage, {"--key-delay", "1"}, "1234567890123", paced_lines, seconds(60));
  ReportError("key delay", SubjectKind::kLintrel, results.key_delay.error);
  for (std::size_t b = 0; b < kPacedBauds.size(); ++b) {
    for (SubjectKind kind : kSubjects) {
      const int lines = shell(kind) ? plan.shell_paced_lines : plan.paced_lines[b];
      Progress("paced at " + std::to_string(kPacedBauds[b]) + " baud: " + SubjectName(kind) + ", " +
               std::to_string(lines) + " lines");
      PacedResult& result = results.paced[b][Index(kind)];
      result = MeasurePaced(stage, kind, kPacedBauds[b], lines,
                            shell(kind) ? plan.shell_limit : seconds(30));
      ReportError("paced", kind, result.error);
    }
  }
  for (std::size_t p = 0; p < kCorrectnessPorts.size(); ++p) {
    const int ports = kCorrectnessPorts[p];
    for (SubjectKind kind : kSubjects) {
      const long per_port = shell(kind) ? plan.shell_lines_per_port[p]
                                        : std::max<long>(1, plan.correctness_lines / ports);
      Progress("correctness, " + std::to_string(ports) + " ports: " + SubjectName(kind) + ", " +
               std::to_string(per_port * ports) + " lines");
      CorrectnessResult& result = results.correctness[p][Index(kind)];
      result = MeasureCorrectness(stage, kind, ports, per_port,
                                  shell(kind) ? plan.shell_limit : seconds(60));
      ReportError("correctness", kind, result.error);
      for (const std::string& line : result.delivery.corrupted_examples) {
        Progress("  corrupted line typed: \"" + line + "\"");
      }
    }
  }
  for (SubjectKind kind : kSubjects) {
    Progress(std::string("idle, ") + std::to_string(kIdlePorts) + " ports: " + SubjectName(kind));
    IdleResult& result = results.idle[Index(kind)];
    result = MeasureIdle(stage, kind, kIdlePorts, plan.idle_time);
    ReportError("idle", kind, result.error);
  }
  Progress("throughput, uinput in a QEMU guest: lintrel, " + std::to_string(plan.uinput_guest_lines) + " lines");
  results.uinput_guest = MeasureUinputInGuest(plan.uinput_guest_lines);
  if (!results.uinput_guest.error.empty()) Progress("uinput in a QEMU guest: " + results.uinput_guest.error);
  if (!results.uinput_guest.skipped.empty()) {
    Progress("uinput in a QEMU guest skipped: " + results.uinput_guest.skipped);
  }
  return results;
}

// --- The table -------------------------------------------------------------------------

std::string PortsText(int ports) {
  return std::to_string(ports) + (ports == 1 ? " port" : " ports");
}

const std::string kFailed = "failed";

template <typename Result>
Cell CellOf(const Result& result, const std::function<double(const Result&)>& figure) {
  if (!result.error.empty()) return {std::nullopt, kFailed};
  return {figure(result), ""};
}

template <typename Result>
Row RowOf(const std::string& name, const PerSubject<Result>& results,
          const std::function<double(const Result&)>& figure) {
  Row row;
  row.figure = name;
  row.lintrel = CellOf(results[0], figure);
  row.floor = CellOf(results[1], figure);
  row.shell = CellOf(results[2], figure);
  return row;
}

bool AtMost(const Cell& cell, double limit) { return cell.value && *cell.value <= limit; }

void AddLatencyRows(const std::string& name, const PerSubject<LatencyResult>& results,
                    std::vector<Row>* rows) {
  rows->push_back(
      RowOf<LatencyResult>(name + " p50 (ms)", results, [](auto& r) { return r.summary.p50_ms; }));
  Row p99 =
      RowOf<LatencyResult>(name + " p99 (ms)", results, [](auto& r) { return r.summary.p99_ms; });
  p99.target = "<= 1.5x floor";
  const bool pass = p99.floor.value && AtMost(p99.lintrel, 1.5 * *p99.floor.value);
  p99.verdict = pass ? Verdict::kPass : Verdict::kFail;
  rows->push_back(p99);
  rows->push_back(
      RowOf<LatencyResult>(name + " max (ms)", results, [](auto& r) { return r.summary.max_ms; }));
  rows->push_back(RowOf<LatencyResult>(
      name + " lines lost", results, [](auto& r) { return static_cast<double>(r.summary.lost); }));
  rows->back().with_ratios = false;
}

std::string DeliveryText(const CorrectnessResult& result) {
  if (!result.error.empty()) return kFailed;
  const Delivery& d = result.delivery;
  std::string text = std::to_string(d.missing) + "/" + std::to_string(d.corrupted + d.duplicated) +
                     "/" + std::to_string(d.reordered) + " of " + std::to_string(d.sent);
  if (result.x_connections_refused > 0)
    text += ", X refused " + std::to_string(result.x_connections_refused);
  return text;
}

std::vector<Row> BuildRows(const Results& results) {
  std::vector<Row> rows;
  const LatencyResult& trace = results.trace_latency;
  const auto trace_row = [&](const std::string& name, double value) {
    Row row;
    row.figure = "latency, trace sink, " + name + " (ms)";
    row.lintrel = trace.error.empty() ? Cell{value, ""} : Cell{std::nullopt, kFailed};
    row.with_ratios = false;
    return row;
  };
  rows.push_back(trace_row("p50", trace.summary.p50_ms));
  Row trace_p99 = trace_row("p99", trace.summary.p99_ms);
  trace_p99.target = "< 2 ms";
  trace_p99.verdict = trace.error.empty() && trace.summary.p99_ms < 2 && trace.summary.lost == 0
                          ? Verdict::kPass
                          : Verdict::kFail;
  rows.push_back(trace_p99);
  rows.push_back(trace_row("max", trace.summary.max_ms));
  // The same lines from a TCP port beside the pseudo-terminal's (one run, no target).
  const LatencyResult& tcp = results.tcp_trace_latency;
  for (const auto& [name, value] : {std::pair{"p50", tcp.summary.p50_ms}, std::pair{"p99", tcp.summary.p99_ms}}) {
    Row row;
    row.figure = std::string("latency, trace sink, TCP port, ") + name + " (ms)";
    row.lintrel = tcp.error.empty() && tcp.summary.lost == 0 ? Cell{value, ""} : Cell{std::nullopt, kFailed};
    row.with_ratios = false;
    rows.push_back(row);
  }

  AddLatencyRows("latency, x11,", results.x11_latency, &rows);

  Row lines = RowOf<ThroughputResult>("throughput, x11 (lines/s)", results.throughput,
                                      [](auto& r) { return r.lines_per_second; });
  lines.target = ">= 0.8x floor, >= 100x shell";
  const double lintrel_rate = lines.lintrel.value.value_or(0);
  const bool fast = lines.floor.value && lines.shell.value &&
                    lintrel_rate >= 0.8 * *lines.floor.value &&
                    lintrel_rate >= 100 * *lines.shell.value;
  lines.verdict = fast ? Verdict::kPass : Verdict::kFail;
  rows.push_back(lines);
  Row shaped;
  shaped.figure = "throughput, x11, shaped lines (lines/s)";
  const ThroughputResult& shaped_result = results.shaped_throughput;
  shaped.lintrel = shaped_result.error.empty() ? Cell{shaped_result.lines_per_second, ""} : Cell{std::nullopt, kFailed};
  shaped.target = ">= 0.95x lintrel unshaped";
  shaped.verdict = shaped_result.error.empty() && shaped_result.lines_per_second >= 0.95 * lintrel_rate
                       ? Verdict::kPass
                       : Verdict::kFail;
  shaped.with_ratios = false;
  rows.push_back(shaped);
  Row tcp_lines;
  tcp_lines.figure = "throughput, x11, TCP port (lines/s)";
  const ThroughputResult& tcp_result = results.tcp_throughput;
  tcp_lines.lintrel = tcp_result.error.empty() && tcp_result.delivery.Clean() ? Cell{tcp_result.lines_per_second, ""}
                                                                             : Cell{std::nullopt, kFailed};
  tcp_lines.with_ratios = false;
  rows.push_back(tcp_lines);
  rows.push_back(RowOf<ThroughputResult>("throughput, x11 (key events/s)", results.throughput,
                                         [](auto& r) { return r.keys_per_second; }));
  // Another machine (an emulated guest): beside the host's figures, compared with nothing.
  const UinputGuestResult& guest = results.uinput_guest;
  const auto guest_row = [&](const std::string& name, double value) {
    Row row;
    row.figure = "throughput, uinput in a QEMU guest (" + name + ")";
    row.lintrel = !guest.skipped.empty() ? Cell{std::nullopt, "skipped"}
                  : guest.error.empty()  ? Cell{value, ""}
                                         : Cell{std::nullopt, kFailed};
    row.with_ratios = false;
    return row;
  };
  rows.push_back(guest_row("lines/s", guest.lines_per_second));
  rows.push_back(guest_row("key events/s", guest.key_events_per_second));
  rows.push_back(RowOf<ThroughputResult>("CPU s per 1000 lines", results.throughput,
                                         [](auto& r) { return r.cpu_seconds_per_1000_lines; }));
  Row run_time =
      RowOf<ThroughputResult>("CPU s per 1000 lines, scheduler clock", results.throughput,
                              [](auto& r) { return r.run_seconds_per_1000_lines; });
  run_time.shell = {std::nullopt,
                    "-"};  // the loop's work is in its children, which this leaves out
  rows.push_back(run_time);
  rows.push_back(RowOf<ThroughputResult>("X server CPU s per 1000 lines", results.throughput,
                                         [](auto& r) { return r.x_cpu_seconds_per_1000_lines; }));

  for (std::size_t b = 0; b < kPacedBauds.size(); ++b) {
    const std::string name = "paced " + std::to_string(kPacedBauds[b]) + " baud,";
    const auto& paced = results.paced[b];
    rows.push_back(
        RowOf<PacedResult>(name + " p50 (ms)", paced, [](auto& r) { return r.summary.p50_ms; }));
    rows.push_back(
        RowOf<PacedResult>(name + " p99 (ms)", paced, [](auto& r) { return r.summary.p99_ms; }));
    rows.push_back(
        RowOf<PacedResult>(name + " max (ms)", paced, [](auto& r) { return r.summary.max_ms; }));
    Row bounded;
    bounded.figure = name + " latency bounded (drift ms)";
    Cell* cells[] = {&bounded.lintrel, &bounded.floor, &bounded.shell};
    for (std::size_t s = 0; s < 3; ++s) {
      const PacedResult& r = paced[s];
      cells[s]->text =
          !r.error.empty()
              ? kFailed
              : std::string(r.bounded ? "yes" : "no") + " (" + FormatNumber(r.drift_ms) +
                    (r.summary.lost > 0 ? ", " + std::to_string(r.summary.lost) + " lost" : "") +
                    ")";
    }
    bounded.with_ratios = false;
    bounded.target = "bounded";
    bounded.verdict = paced[0].error.empty() && paced[0].bounded ? Verdict::kPass : Verdict::kFail;
    rows.push_back(bounded);
  }

  for (std::size_t p = 0; p < kCorrectnessPorts.size(); ++p) {
    Row row;
    row.figure = "missing/corrupted/reordered, " + PortsText(kCorrectnessPorts[p]);
    const auto& r = results.correctness[p];
    row.lintrel.text = DeliveryText(r[0]);
    row.floor.text = DeliveryText(r[1]);
    row.shell.text = DeliveryText(r[2]);
    row.with_ratios = false;
    row.target = "0/0/0";
    row.verdict = r[0].error.empty() && r[0].delivery.Clean() ? Verdict::kPass : Verdict::kFail;
    rows.push_back(row);
  }

  Row wakeups = RowOf<IdleResult>("idle wake-ups/s, 16 ports", results.idle,
                                  [](auto& r) { return r.wakeups_per_second; });
  wakeups.target = "< 1/s";
  wakeups.verdict =
      wakeups.lintrel.value && *wakeups.lintrel.value < 1 ? Verdict::kPass : Verdict::kFail;
  rows.push_back(wakeups);
  rows.push_back(RowOf<IdleResult>("idle CPU s, 16 ports, per 10 s", results.idle,
                                   [](auto& r) { return r.cpu_seconds * 10 / r.seconds; }));

  for (int ports : kMemoryPorts) {
    const std::size_t p = static_cast<std::size_t>(
        std::find(kCorrectnessPorts.begin(), kCorrectnessPorts.end(), ports) -
        kCorrectnessPorts.begin());
    Row row = RowOf<CorrectnessResult>(
        "peak RSS, " + PortsText(ports) + " (MiB)", results.correctness[p],
        [](auto& r) { return static_cast<double>(r.peak_rss_kib) / kKiBPerMiB; });
    if (ports == 256) {
      row.target = "< 16 MiB";
      row.verdict = row.lintrel.value && *row.lintrel.value < 16 ? Verdict::kPass : Verdict::kFail;
    }
    rows.push_back(row);
  }
  return rows;
}

// --- The JSON file -------------------------------------------------------------------------

Json LatencyJson(const LatencySummary& s) {
  Json json = Json::Object();
  json.Set("lines", Json::Number(static_cast<double>(s.count)));
  json.Set("lost", Json::Number(static_cast<double>(s.lost)));
  json.Set("p50_ms", Json::Number(s.p50_ms));
  json.Set("p99_ms", Json::Number(s.p99_ms));
  json.Set("max_ms", Json::Number(s.max_ms));
  json.Set("mean_first_quarter_ms", Json::Number(s.mean_first_quarter_ms));
  json.Set("mean_last_quarter_ms", Json::Number(s.mean_last_quarter_ms));
  return json;
}

Json DeliveryJson(const Delivery& d) {
  Json json = Json::Object();
  json.Set("sent", Json::Number(static_cast<double>(d.sent)));
  json.Set("arrived", Json::Number(static_cast<double>(d.arrived)));
  json.Set("missing", Json::Number(static_cast<double>(d.missing)));
  json.Set("corrupted", Json::Number(static_cast<double>(d.corrupted)));
  json.Set("duplicated", Json::Number(static_cast<double>(d.duplicated)));
  json.Set("reordered", Json::Number(static_cast<double>(d.reordered)));
  json.Set("ports_with_faults", Json::Number(d.ports_with_faults));
  return json;
}

template <typename Result>
Json PerSubjectJson(const PerSubject<Result>& results,
                    const std::function<void(const Result&, Json&)>& fill) {
  Json json = Json::Object();
  for (SubjectKind kind : kSubjects) {
    const Result& result = results[Index(kind)];
    Json& item = json.Set(SubjectName(kind), Json::Object());
    if (!result.error.empty()) item.Set("error", Json::Text(result.error));
    fill(result, item);
  }
  return json;
}

std::string FirstLineOf(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

std::string MachineText() {
  utsname name = {};
  uname(&name);
  std::string os = FirstLineOf("/etc/debian_version");
  return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " +
         (os.empty() ? std::string("Linux") : "Debian " + os) + ", kernel " + name.release +
         ", Xvfb";
}

Json ResultsJson(const Results& results, const Plan& plan, const std::vector<Row>& rows) {
  Json json = Json::Object();
  json.Set("machine", Json::Text(MachineText()));
  json.Set("mode", Json::Text(plan.quick ? "quick" : "full"));
  for (const auto& [name, rate] : {std::pair{"lintrel_unicode_lines", &results.unicode},
                                   std::pair{"lintrel_key_delay_1", &results.key_delay}}) {
    Json entry = Json::Object();
    entry.Set("lines_sent", Json::Number(rate->lines_sent));
    entry.Set("lines_arrived", Json::Number(rate->lines_arrived));
    entry.Set("lines_per_second", Json::Number(rate->lines_per_second));
    json.Set(name, entry);
  }
  Json stages = Json::Object();
  for (const StageCost& cost : results.stage_costs) stages.Set(cost.name, Json::Number(cost.microseconds_per_line));
  json.Set("line_stage_microseconds_per_line", stages);
  Json trace = LatencyJson(results.trace_latency.summary);
  if (!results.trace_latency.error.empty())
    trace.Set("error", Json::Text(results.trace_latency.error));
  json.Set("latency_trace_lintrel", trace);
  Json tcp_trace = LatencyJson(results.tcp_trace_latency.summary);
  if (!results.tcp_trace_latency.error.empty()) tcp_trace.Set("error", Json::Text(results.tcp_trace_latency.error));
  json.Set("latency_trace_lintrel_tcp_port", tcp_trace);
  Json tcp_throughput = Json::Object();
  tcp_throughput.Set("lines_per_second", Json::Number(results.tcp_throughput.lines_per_second));
  if (!results.tcp_throughput.error.empty()) tcp_throughput.Set("error", Json::Text(results.tcp_throughput.error));
  json.Set("throughput_x11_lintrel_tcp_port", tcp_throughput);
  json.Set("latency_x11", PerSubjectJson<LatencyResult>(results.x11_latency, [](auto& r, Json& j) {
             j.Set("latency", LatencyJson(r.summary));
           }));
  json.Set(
      "throughput_x11", PerSubjectJson<ThroughputResult>(results.throughput, [](auto& r, Json& j) {
        j.Set("lines_sent", Json::Number(static_cast<double>(r.lines_sent)));
        j.Set("delivery", DeliveryJson(r.delivery));
        j.Set("seconds", Json::Number(r.seconds));
        j.Set("lines_per_second", Json::Number(r.lines_per_second));
        j.Set("key_events_per_second", Json::Number(r.keys_per_second));
        j.Set("cpu_seconds_per_1000_lines", Json::Number(r.cpu_seconds_per_1000_lines));
        j.Set("run_seconds_per_1000_lines", Json::Number(r.run_seconds_per_1000_lines));
        j.Set("x_server_cpu_seconds_per_1000_lines", Json::Number(r.x_cpu_seconds_per_1000_lines));
      }));
  Json& shaped = json.Set("throughput_x11_lintrel_shaped", Json::Object());
  shaped.Set("lines_per_second", Json::Number(results.shaped_throughput.lines_per_second));
  shaped.Set("key_events_per_second", Json::Number(results.shaped_throughput.keys_per_second));
  shaped.Set("delivery", DeliveryJson(results.shaped_throughput.delivery));
  if (!results.shaped_throughput.error.empty()) shaped.Set("error", Json::Text(results.shaped_throughput.error));
  Json& paced = json.Set("paced_x11", Json::Object());
  for (std::size_t b = 0; b < kPacedBauds.size(); ++b) {
    paced.Set(std::to_string(kPacedBauds[b]),
              PerSubjectJson<PacedResult>(results.paced[b], [](auto& r, Json& j) {
                j.Set("latency", LatencyJson(r.summary));
                j.Set("drift_ms", Json::Number(r.drift_ms));
                j.Set("bounded", Json::Boolean(r.bounded));
                j.Set("lines_with_cr_written_with_next_line",
                      Json::Number(static_cast<double>(r.lines_with_inner_cr)));
                j.Set("latency_of_those_lines", LatencyJson(r.inner_cr_summary));
              }));
  }
  Json& correctness = json.Set("correctness_x11", Json::Object());
  for (std::size_t p = 0; p < kCorrectnessPorts.size(); ++p) {
    correctness.Set(std::to_string(kCorrectnessPorts[p]),
                    PerSubjectJson<CorrectnessResult>(results.correctness[p], [](auto& r, Json& j) {
                      j.Set("lines_per_port", Json::Number(static_cast<double>(r.lines_per_port)));
                      j.Set("delivery", DeliveryJson(r.delivery));
                      j.Set("all_arrived_in_time", Json::Boolean(r.finished));
                      j.Set("seconds", Json::Number(r.seconds));
                      j.Set("peak_rss_kib", Json::Number(static_cast<double>(r.peak_rss_kib)));
                      j.Set("x_connections_refused", Json::Number(r.x_connections_refused));
                    }));
  }
  json.Set("idle_16_ports", PerSubjectJson<IdleResult>(results.idle, [](auto& r, Json& j) {
             j.Set("seconds", Json::Number(r.seconds));
             j.Set("wakeups_per_second", Json::Number(r.wakeups_per_second));
             j.Set("cpu_seconds", Json::Number(r.cpu_seconds));
             j.Set("peak_rss_kib", Json::Number(static_cast<double>(r.peak_rss_kib)));
           }));
  Json& guest = json.Set("throughput_uinput_qemu_guest", Json::Object());
  guest.Set("lines", Json::Number(results.uinput_guest.lines));
  guest.Set("seconds", Json::Number(results.uinput_guest.seconds));
  guest.Set("lines_per_second", Json::Number(results.uinput_guest.lines_per_second));
  guest.Set("key_events_per_second", Json::Number(results.uinput_guest.key_events_per_second));
  guest.Set("error", Json::Text(results.uinput_guest.error));
  guest.Set("skipped", Json::Text(results.uinput_guest.skipped));
  json.Set("table", RowsToJson(rows));
  return json;
}

std::string PlanText(const Plan& plan) {
  const auto n = [](long value) { return std::to_string(value); };
  return "Lines per run: latency " + n(plan.latency_lines) + " (shell loop " +
         n(plan.shell_latency_lines) + "); throughput " + n(plan.throughput_lines) +
         " (median of " + n(plan.throughput_rounds) + " rounds; shell loop " +
         n(plan.shell_throughput_lines) + ", one round); paced 9600/115200 baud " +
         n(plan.paced_lines[0]) + "/" + n(plan.paced_lines[1]) + " (shell loop " +
         n(plan.shell_paced_lines) + "); correctness " + n(plan.correctness_lines) +
         " on all ports together (shell loop " + n(plan.shell_lines_per_port[0]) + "/" +
         n(plan.shell_lines_per_port[1]) + "/" + n(plan.shell_lines_per_port[2]) + "/" +
         n(plan.shell_lines_per_port[3]) + " per port at 1/8/64/256 ports, at most " +
         n(plan.shell_limit.count()) + " s a run); idle " + n(plan.idle_time.count()) + " s; uinput in a QEMU guest " +
         n(plan.uinput_guest_lines) + " lines, each read back before the next (an emulated machine: its rate is not "
         "the host's).\n";
}

// What the table cannot show: the paced lines that went out glued to the next line.
std::string NotesText(const Results& results) {
  std::string notes;
  for (std::size_t b = 0; b < kPacedBauds.size(); ++b) {
    for (SubjectKind kind : {SubjectKind::kLintrel, SubjectKind::kFloor}) {
      const PacedResult& r = results.paced[b][Index(kind)];
      if (!r.error.empty() || r.lines_with_inner_cr == 0) continue;
      notes += "Paced " + std::to_string(r.baud) + " baud, " + SubjectName(kind) + ": " +
               std::to_string(r.lines_with_inner_cr) + " of " +
               std::to_string(r.summary.count + r.summary.lost) +
               " lines had their CR written together with the next line's first byte(s); their "
               "latency p50 " +
               FormatNumber(r.inner_cr_summary.p50_ms) + " ms, max " +
               FormatNumber(r.inner_cr_summary.max_ms) + " ms.\n";
    }
  }
  return notes;
}

// The median of a figure over rounds.
double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Two builds of lintrel-cli on the same workloads, in rounds that alternate them (which goes
// first alternates too), so that the machine's noise hits both alike. A failed round counts 0.
void CompareBuilds(const Stage& stage, const Plan& plan, const std::string& compared_cli, int rounds) {
  if (rounds <= 0) rounds = plan.quick ? 6 : 16;
  const Stage compared{{compared_cli, stage.programs.floor_typer}, stage.x_server, stage.receiver};
  std::array<std::vector<double>, 2> ascii;
  std::array<std::vector<double>, 2> ascii_cpu;  // lintrel-cli's own, scheduler clock
  std::array<std::vector<double>, 2> unicode;
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const std::size_t which = static_cast<std::size_t>((round + turn) % 2);
      const Stage& subject = which == 0 ? stage : compared;
      const std::string name = which == 0 ? "measured" : "compared";
      Progress("compare, round " + std::to_string(round + 1) + ": " + name);
      const ThroughputResult plain =
          MeasureThroughput(subject, SubjectKind::kLintrel, plan.throughput_lines, seconds(60));
      ReportError("throughput " + name, SubjectKind::kLintrel, plain.error);
      ascii[which].push_back(plain.error.empty() ? plain.lines_per_second : 0);
      ascii_cpu[which].push_back(plain.run_seconds_per_1000_lines * 1000);
      const LineRateResult heavy =
          MeasureLineRate(subject, {"--encoding", "utf-8"}, kUnicodeLine, plan.throughput_lines, seconds(60));
      ReportError("unicode " + name, SubjectKind::kLintrel, heavy.error);
      unicode[which].push_back(heavy.error.empty() && heavy.lines_arrived == heavy.lines_sent ? heavy.lines_per_second
                                                                                              : 0);
    }
  }
  // The two measurements of a round ran one after the other, on the machine as it was then:
  // the median of the rounds' ratios is steadier than the ratio of the medians.
  const auto row = [](const char* what, const std::array<std::vector<double>, 2>& rates) {
    std::vector<double> ratios;
    std::string each;
    for (std::size_t round = 0; round < rates[0].size(); ++round) {
      if (rates[1][round] > 0) ratios.push_back(rates[0][round] / rates[1][round]);
      each += " " + FormatNumber(rates[0][round]) + "/" + FormatNumber(rates[1][round]);
    }
    std::printf("%-40s %10.0f %10.0f %8.3fx\n", what, Median(rates[0]), Median(rates[1]), Median(ratios));
    std::printf("  rounds (measured/compared):%s\n", each.c_str());
  };
  std::printf("Machine: %s. %d rounds of %d lines, alternating.\n\n", MachineText().c_str(), rounds,
              plan.throughput_lines);
  std::printf("%-40s %10s %10s %9s\n", "lines/s (medians; ratio: median of rounds)", "measured", "compared",
              "ratio");
  row("throughput, x11, ASCII lines", ascii);
  row("CPU ms per 1000 ASCII lines", ascii_cpu);
  row("throughput, x11, Unicode-heavy lines", unicode);
  std::printf("measured: %s\ncompared: %s\n", stage.programs.lintrel_cli.c_str(), compared_cli.c_str());
}

// Lines of 2,000 digits (a received line of 400, five times over by the template, and a CR)
// typed by keys and pasted, one port, in rounds that alternate the two (which goes first
// alternates too). A round that lost a line counts 0.
void ComparePaste(const Stage& stage, const Plan& plan, int rounds) {
  if (rounds <= 0) rounds = plan.quick ? 2 : 3;
  const int lines = plan.quick ? 50 : 200;
  constexpr std::size_t kReceivedLength = 400;
  std::string received;
  for (std::size_t i = 0; i < kReceivedLength; ++i) received += static_cast<char>('0' + i % 10);
  const std::array<const char*, 2> methods = {"keys", "paste"};
  std::array<std::vector<double>, 2> rates;
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const std::size_t which = static_cast<std::size_t>((round + turn) % 2);
      Progress("paste, round " + std::to_string(round + 1) + ": " + methods[which]);
      const LineRateResult result =
          MeasureLineRate(stage, {"--truncate", "--template", "{line}{line}{line}{line}{line}\\r", "--delivery",
                                  methods[which]},
                          received, lines, seconds(120));
      ReportError(std::string("--delivery ") + methods[which], SubjectKind::kLintrel, result.error);
      const bool whole = result.error.empty() && result.lines_arrived == result.lines_sent;
      rates[which].push_back(whole ? result.lines_per_second : 0);
    }
  }
  std::printf("Machine: %s. %d rounds of %d lines of %zu characters, alternating.\n\n", MachineText().c_str(),
              rounds, lines, kReceivedLength * 5);
  std::printf("%-40s %10s %10s %9s\n", "lines/s (medians)", "keys", "paste", "paste/keys");
  std::printf("%-40s %10.1f %10.1f %8.2fx\n", "throughput, x11, 2,000-character lines", Median(rates[0]),
              Median(rates[1]), Median(rates[0]) > 0 ? Median(rates[1]) / Median(rates[0]) : 0.0);
  std::printf("%-40s %10.0f %10.0f\n", "characters/s", Median(rates[0]) * kReceivedLength * 5,
              Median(rates[1]) * kReceivedLength * 5);
  std::string each;
  for (std::size_t round = 0; round < rates[0].size(); ++round) {
    each += " " + FormatNumber(rates[0][round]) + "/" + FormatNumber(rates[1][round]);
  }
  std::printf("  rounds (keys/paste):%s\n", each.c_str());
}

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "lintrel_bench: %s\n%s", options.error.c_str(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  testing::KillChildrenOnInterrupt();
  std::string error;
  std::unique_ptr<XServer> x_server = XServer::Start(&error);
  if (!x_server) {
    std::fprintf(stderr, "lintrel_bench: %s\n", error.c_str());
    return 1;
  }
  setenv("DISPLAY", x_server->display_name().c_str(), 1);
  std::unique_ptr<KeyReceiver> receiver = KeyReceiver::Open(x_server->display_name(), &error);
  if (!receiver) {
    std::fprintf(stderr, "lintrel_bench: %s\n", error.c_str());
    return 1;
  }
  Progress("Xvfb on " + x_server->display_name() +
           (options.plan.quick ? ", quick run" : ", full run"));
  const Stage stage{options.programs, x_server.get(), receiver.get()};
  if (!options.compared_cli.empty()) {
    CompareBuilds(stage, options.plan, options.compared_cli, options.compare_rounds);
    return 0;
  }
  if (options.paste) {
    ComparePaste(stage, options.plan, options.compare_rounds);
    return 0;
  }
  const Results results = RunAll(stage, options.plan);
  receiver.reset();
  x_server.reset();

  const std::vector<Row> rows = BuildRows(results);
  std::printf("Machine: %s. %s run.\n\n%s\n%s%s", MachineText().c_str(),
              options.plan.quick ? "Quick" : "Full", FormatTable(rows).c_str(),
              PlanText(options.plan).c_str(), NotesText(results).c_str());

  const std::filesystem::path json_path(options.json_path);
  if (json_path.has_parent_path()) std::filesystem::create_directories(json_path.parent_path());
  std::ofstream json_file(json_path);
  json_file << ResultsJson(results, options.plan, rows).Dump() << "\n";
  if (!json_file) {
    std::fprintf(stderr, "lintrel_bench: cannot write %s\n", options.json_path.c_str());
    return 1;
  }
  std::printf("\nlintrel-cli, other lines (one port, as fast as the pseudo-terminal takes them):\n"
              "Unicode-heavy lines (%d of %d arrived): %.0f lines/s; --key-delay 1 (%d of %d): %.1f lines/s\n",
              results.unicode.lines_arrived, results.unicode.lines_sent, results.unicode.lines_per_second,
              results.key_delay.lines_arrived, results.key_delay.lines_sent, results.key_delay.lines_per_second);
  std::printf("\nLine stages, in process (shaping, then the record stage; µs a line):\n");
  for (const StageCost& cost : results.stage_costs) {
    std::printf("  %-66s %.3f\n", cost.name.c_str(), cost.microseconds_per_line);
  }
  std::printf("All figures: %s\n", options.json_path.c_str());
  return 0;
}

}  // namespace
}  // namespace lintrel::bench

int main(int argc, char** argv) { return lintrel::bench::Run(argc, argv); }
