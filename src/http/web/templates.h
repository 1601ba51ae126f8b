// Page templates: files of the program directory's "HTML/" folder (and
// the users' "html/" folders) that pages are built from, and the marker
// replacement they use ("@@Name@@").
//
// Names match without regard to case (the exact name first). A template is
// read at most once per two seconds; a missing one is remembered as
// missing for as long, so a page without its template costs no directory
// listing per request. Thread-safe.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vek::http {

// The program directory's "HTML/" folder (ends in '/').
std::string programHtmlDirectory();

// The text of "HTML/<name>" in the program directory, or null.
std::shared_ptr<const std::string> programTemplate(std::string_view name);
// The same for any file (bounded read, no cache).
std::shared_ptr<const std::string> readTemplateFile(const std::string& path);

// `path` below `dir` with each component matched without regard to case;
// "" when a component is missing.
std::string resolveNoCase(const std::string& dir, std::string_view relative);

// Every occurrence of `marker` replaced by `value`.
std::string replaceAll(std::string_view text, std::string_view marker, std::string_view value);

// The lines of a template: split at CR LF, LF or CR.
std::vector<std::string_view> templateLines(std::string_view text);

// Tests: forget cached templates.
void clearTemplateCache();

}  // namespace vek::http
