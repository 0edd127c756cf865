// Reports in Python: every field of the report at full precision, the text
// the commands print, and the pair listing.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "seedmatch/report/report.h"

namespace py = pybind11;
using namespace seedmatch;

namespace seedmatch_python {
namespace {

// What print writes to a FILE*, as a string.
template <class Print>
std::string printed(Print print) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  if (stream == nullptr) throw std::bad_alloc();
  std::unique_ptr<char, decltype(&std::free)> owned(nullptr, &std::free);
  try {
    print(stream);
  } catch (...) {
    std::fclose(stream);
    owned.reset(buffer);
    throw;
  }
  const bool failed = std::fclose(stream) != 0;
  owned.reset(buffer);
  if (failed) throw std::bad_alloc();
  return std::string(buffer, size);
}

// The report functions refuse a table naming seeds the sets do not hold.
template <class Run>
auto refusingBadRows(Run run) {
  try {
    return run();
  } catch (const std::out_of_range& error) {
    throw py::value_error(std::string("matching does not fit these seed sets: ") + error.what());
  }
}

struct ReportRows {
  std::vector<ReportRow> rows;
};

// The report's per-row fields as read-only float64 columns viewing one copy of
// the rows; p and q become int64 for indexing.
py::dict rowColumns(std::vector<ReportRow> rows) {
  const auto count = static_cast<py::ssize_t>(rows.size());
  const py::object owner = py::cast(ReportRows{std::move(rows)});
  const std::vector<ReportRow>* owned = &owner.cast<const ReportRows&>().rows;
  py::dict columns;
  for (const auto& [name, member] :
       {std::pair{"p", &ReportRow::p}, std::pair{"q", &ReportRow::q}}) {
    py::array_t<std::int64_t> index(count);
    std::int64_t* out = index.mutable_data();
    for (const ReportRow& row : *owned) *out++ = row.*member;
    columns[name] = readOnly(index);
  }
  const std::pair<const char*, double ReportRow::*> fields[] = {
      {"stored_cost", &ReportRow::storedCost},
      {"seed_dist", &ReportRow::seedDist},
      {"pcal", &ReportRow::pcal},
      {"cost", &ReportRow::evalCost},
      {"d_desc0", &ReportRow::dDesc0},
      {"d_desc1", &ReportRow::dDesc1},
      {"d_desc2", &ReportRow::dDesc2},
      {"d_pts01", &ReportRow::dPts01},
      {"d_desc4", &ReportRow::dDesc4},
      {"d_pts2", &ReportRow::dPts2},
      {"pos_disp", &ReportRow::posDisp}};
  for (const auto& [name, member] : fields) {
    const double* first = owned->empty() ? nullptr : &(owned->front().*member);
    columns[name] = readOnly(
        py::array_t<double>({count}, {static_cast<py::ssize_t>(sizeof(ReportRow))}, first, owner));
  }
  return columns;
}

// Every field of the report at full precision, and the text printed from them.
py::dict evaluate(const PySeedSet& set1, const PySeedSet& set2, const PyMatching& matching,
                  double seedWeight, double histWeight) {
  requireMadeFrom(matching, set1, set2);
  MatchReport report;
  std::string text;
  {
    py::gil_scoped_release release;
    report = refusingBadRows([&] {
      return reportMatch(set1.seeds, set2.seeds, matching.table, seedWeight, histWeight,
                         SeedDistWeights{});
    });
    text = printed([&](std::FILE* out) { printReport(report, out); });
  }
  py::dict fields = rowColumns(std::move(report.rows));
  fields["rows"] = report.tableRows;
  const std::pair<const char*, double ReportSummary::*> summary[] = {
      {"sum_cost", &ReportSummary::sumCost},      {"avg_cost", &ReportSummary::avgCost},
      {"avg_rp", &ReportSummary::avgRP},          {"navg_rp", &ReportSummary::navgRP},
      {"avg_d_desc0", &ReportSummary::avgDDesc0}, {"avg_d_desc1", &ReportSummary::avgDDesc1},
      {"avg_d_desc2", &ReportSummary::avgDDesc2}, {"avg_d_pts01", &ReportSummary::avgDPts01},
      {"avg_d_desc4", &ReportSummary::avgDDesc4}, {"avg_d_pts2", &ReportSummary::avgDPts2}};
  for (const auto& [name, member] : summary) {
    fields[name] = report.summary ? py::object(py::float_((*report.summary).*member)) : py::none();
  }
  fields["text"] = text;
  return fields;
}

}  // namespace

void bindReports(py::module_& m) {
  py::class_<ReportRows>(m, "_ReportRows", "Holds the rows a report's columns view.");
  m.def("evaluate", &evaluate);

  m.def("pair_listing",
        [](const PySeedSet& set1, const PySeedSet& set2, const PyMatching& matching) {
          requireMadeFrom(matching, set1, set2);
          std::string text;
          {
            py::gil_scoped_release release;
            text = refusingBadRows([&] {
              return printed([&](std::FILE* out) {
                print_match_pairs(set1.seeds, set2.seeds, matching.table, 0.0, 0.0, 0.0, out);
              });
            });
          }
          return text;
        });
}

}  // namespace seedmatch_python
