#include "tools/qxsim/storyboard.h"

#include <sstream>

#include "tools/qxsim/screen.h"

namespace qx::qxsim {

namespace {

// A frame shown on its own (its number's link, "#road-51") hides the rest of
// the page and puts the screen at a fixed place: 8 pixels from the top and
// the left of the window. The browser test relies on that place. Such a
// frame shows the screen even when its step left it as it was (the copy in
// "again"), and the notes that lead to it.
constexpr std::string_view kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 0; padding: 8px 16px; color: #1f2328; background: #f6f8fa; }
h1 { font-size: 20px; margin: 8px 0; }
h2 { font-size: 17px; margin: 24px 0 8px; }
.note { max-width: 760px; margin: 16px 0 8px; font-style: italic; }
.frame { display: flex; gap: 20px; align-items: flex-start; margin: 0 0 12px -16px; padding: 8px;
         background: #ffffff; border-top: 1px solid #d0d7de; }
.screen { flex: 0 0 240px; width: 240px; }
.screen svg { display: block; outline: 5px solid #3a3f44; }
.same { width: 240px; margin: 0; color: #57606a; font-size: 12px; }
.again { display: none; }
.story .note { margin: 0 0 6px; font: italic 14px/1.4 sans-serif; }
.story { min-width: 0; max-width: 640px; font: 12px/1.45 monospace; overflow-wrap: anywhere; }
.story h3 { font-size: 13px; margin: 0 0 4px; }
.story h3 a { color: #57606a; text-decoration: none; font-weight: normal; }
.story pre { margin: 0; white-space: pre-wrap; font: inherit; }
.effects { list-style: none; margin: 0; padding: 0; }
.registry div { padding-left: 2ch; }
.registry div.value { padding-left: 4ch; }
.add { color: #1a7f37; } .change { color: #9a6700; } .remove { color: #cf222e; }
.problem { color: #cf222e; font-weight: bold; }
.end { color: #57606a; margin: 8px 0 24px; }
body:has(.frame:target) { padding: 0; background: #ffffff; }
body:has(.frame:target) > :not(.scenario), body:has(.frame:target) .scenario > :not(.frame),
body:has(.frame:target) .frame:not(:target) { display: none; }
body:has(.frame:target) .frame:target { margin: 0; border: 0; }
.frame:target .again { display: block; }
.frame:target .same { display: none; }
)";

std::string Escape(const std::string& text) { return EscapeMarkup(text); }

std::string IdPart(const std::string& text) {
  std::string id;
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    id.push_back(plain ? c : '-');
  }
  return id;
}

// Step output comes indented for the terminal; the page indents by itself.
std::string Unindent(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    out += line.starts_with("    ") ? line.substr(4) : line;
    out += "\n";
  }
  return out;
}

const char* RegistryClass(RegistryLine::Kind kind) {
  switch (kind) {
    case RegistryLine::Kind::Added: return "add";
    case RegistryLine::Kind::Changed: return "change";
    case RegistryLine::Kind::Removed: return "remove";
    default: return "key";
  }
}

}  // namespace

StoryboardWriter::StoryboardWriter(std::ostream& out) : out_(out) {
  out_ << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       << "<title>Storyboard</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
       << "<h1>Storyboard</h1>\n"
       << "<p class=\"intro\">One frame per step: the step's line, what it caused, the registry values it changed, "
          "and the handheld's 240 &#215; 320 screen after it. A frame's number shows that frame alone.</p>\n";
}

StoryboardWriter::~StoryboardWriter() { out_ << "</body>\n</html>\n"; }

std::string StoryboardWriter::UniqueId(const std::string& wanted) {
  std::string id = wanted;
  for (int n = 2; !ids_.insert(id).second; ++n) id = wanted + "-" + std::to_string(n);
  return id;
}

void StoryboardWriter::BeginScenario(const std::string& name) {
  scenarioId_ = IdPart(name.substr(name.find_last_of('/') + 1));
  if (scenarioId_.ends_with("-qxs")) scenarioId_.resize(scenarioId_.size() - 4);
  lastScreen_.clear();
  out_ << "<section class=\"scenario\" id=\"" << UniqueId(scenarioId_) << "\">\n<h2>" << Escape(name)
       << "</h2>\n";
}

void StoryboardWriter::Note(const std::string& text) { notes_ += (notes_.empty() ? "" : " ") + text; }

void StoryboardWriter::FlushNotes() {
  if (notes_.empty()) return;
  out_ << "<p class=\"note\">" << Escape(notes_) << "</p>\n";
  notes_.clear();
}

void StoryboardWriter::Step(const StepRecord& step, const sim::Kernel& kernel) {
  const std::string id = UniqueId(scenarioId_ + "-" + std::to_string(step.line));
  out_ << "<article class=\"frame\" id=\"" << id << "\">\n<div class=\"screen\">";
  std::string screen = DrawScreen(kernel);
  if (screen == lastScreen_) {
    out_ << "<p class=\"same\">The screen is as before.</p><div class=\"again\">" << screen << "</div>";
  } else {
    out_ << screen;
    lastScreen_ = std::move(screen);
  }
  out_ << "</div>\n<div class=\"story\">\n";
  // The notes that lead to a step belong to its frame, so a frame shown
  // alone still tells what is going on.
  if (!notes_.empty()) {
    out_ << "<p class=\"note\">" << Escape(notes_) << "</p>\n";
    notes_.clear();
  }
  out_ << "<h3><a href=\"#" << id << "\">" << Escape(step.file) << ":" << step.line << " t=" << Seconds(step.time)
       << "</a> " << Escape(step.command) << "</h3>\n";
  if (!step.output.empty()) out_ << "<pre class=\"output\">" << Escape(Unindent(step.output)) << "</pre>\n";
  if (!step.effects.empty()) {
    out_ << "<ul class=\"effects\">";
    for (const sim::Effect& effect : step.effects) {
      out_ << "<li>" << Escape(step.traced ? TraceLine(effect) : effect.text) << "</li>";
    }
    out_ << "</ul>\n";
  }
  if (!step.registry.empty()) {
    out_ << "<div class=\"registry\">registry:";
    for (const RegistryLine& line : step.registry) {
      out_ << "<div class=\"" << RegistryClass(line.kind) << (line.value ? " value" : "") << "\">"
           << Escape(line.text) << "</div>";
    }
    out_ << "</div>\n";
  }
  out_ << "</div>\n</article>\n";
}

void StoryboardWriter::Problem(const std::string& message) {
  FlushNotes();
  out_ << "<p class=\"problem\">" << Escape(message) << "</p>\n";
}

void StoryboardWriter::EndScenario(const std::string& summary) {
  FlushNotes();
  out_ << "<p class=\"end\">" << Escape(summary) << "</p>\n</section>\n";
}

}  // namespace qx::qxsim
