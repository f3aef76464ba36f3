// verify's findings as it makes them, and the run of a step whose failure
// list and verify report as a finding.
#pragma once

#include <new>
#include <string>
#include <vector>

#include "examine.h"
#include "support.h"

namespace bundletool {

// verify's findings: what is sound as report lines on out; problems and
// warnings on err as they are found, and kept for the JSON report.
class VerifyReport {
 public:
  VerifyReport(const std::string& path, const ExamineOptions& options, Console& console)
      : path(path), options(options), console(console) {}
  // A sound finding: a report line, unless --json.
  void Ok(const std::string& what, const std::string& text) { Line("ok", what, text); }
  // A report line that is no finding.
  void Note(const std::string& text) { Line("-", "", text); }
  // What the launcher tolerates or a publisher should mend; a problem under
  // --strict.
  void Warning(const std::string& what, const std::string& text);
  void Problem(const std::string& what, const std::string& text);
  bool Failed() const { return !problems.empty() || (options.strict && !warnings.empty()); }
  const std::vector<std::string>& Problems() const { return problems; }
  const std::vector<std::string>& Warnings() const { return warnings; }

 private:
  void Line(const char* level, const std::string& what, const std::string& text);
  const std::string& path;
  const ExamineOptions& options;
  Console& console;
  std::vector<std::string> problems, warnings;
};

// Runs step; a failure it throws (a file that cannot be opened or read, no
// memory) is reported on err as the command-line layer would, and kept among
// problems. Returns false after such a failure.
template <typename Step>
bool Attempt(Console& console, std::vector<std::string>& problems, Step step) {
  try {
    step();
    return true;
  } catch (const ToolError& error) {
    console.Problem(error.File(), error.Problem());
    problems.push_back(error.Problem());
  } catch (const std::bad_alloc&) {
    console.err << "bundletool: out of memory\n";
    problems.push_back("out of memory");
  }
  return false;
}

}  // namespace bundletool
