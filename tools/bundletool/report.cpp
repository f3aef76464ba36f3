#include "report.h"

namespace bundletool {

void VerifyReport::Warning(const std::string& what, const std::string& text) {
  const std::string line = what.empty() ? text : what + ": " + text;
  warnings.push_back(line);
  if (options.strict) {
    console.Problem(path, "warning (--strict): " + line);
  } else {
    console.Warning(path, line);
  }
}

void VerifyReport::Problem(const std::string& what, const std::string& text) {
  const std::string line = what.empty() ? text : what + ": " + text;
  problems.push_back(line);
  console.Problem(path, line);
}

void VerifyReport::Line(const char* level, const std::string& what, const std::string& text) {
  if (options.json) return;
  console.Report() << "  " << PadRight(level, 8) << " " << what << (what.empty() ? "" : ": ") << text << "\n";
}

}  // namespace bundletool
