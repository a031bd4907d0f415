#include "cli/check.h"

#include <nlohmann/json.hpp>

#include "text/encoding.h"

namespace velmora::cli {

std::string diagnostic_line(const std::string &file, const compiler::Diagnostic &d) {
  return file + ":" + std::to_string(d.line + 1) + ":" + std::to_string(d.column + 1) + ": " +
         compiler::severity_name(d.severity) + ": " + text::to_utf8(d.explanation);
}

std::string diagnostics_json(const std::vector<CheckedFile> &files) {
  nlohmann::ordered_json out;
  out["files"] = nlohmann::ordered_json::array();
  int counts[3] = {0, 0, 0};
  for (const CheckedFile &f : files) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const compiler::Diagnostic &d : f.diagnostics) {
      ++counts[int(d.severity)];
      list.push_back({{"severity", compiler::severity_name(d.severity)},
                      {"line", d.line + 1},
                      {"column", d.column + 1},
                      {"length", d.length},
                      {"id", d.id},
                      {"message", text::to_utf8(d.message)},
                      {"explanation", text::to_utf8(d.explanation)}});
    }
    out["files"].push_back({{"file", f.file}, {"diagnostics", std::move(list)}});
  }
  out["errors"] = counts[int(compiler::Severity::Error)];
  out["warnings"] = counts[int(compiler::Severity::Warning)];
  out["notes"] = counts[int(compiler::Severity::Note)];
  // Invalid UTF-8 cannot come from UTF-16 text; a file name might carry it.
  return out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

int check_status(const std::vector<CheckedFile> &files) {
  int status = 0;
  for (const CheckedFile &f : files)
    for (const compiler::Diagnostic &d : f.diagnostics)
      if (d.severity == compiler::Severity::Error) status = 2;
      else if (d.severity == compiler::Severity::Warning && status == 0) status = 1;
  return status;
}

}  // namespace velmora::cli
