// Verbs that act on the registry as a whole: importing and exporting
// regedit text.
#include "tools/qxsim/verbs.h"

#include <fstream>
#include <sstream>

namespace qx::qxsim {

void VerbTable::AddRegistryVerbs(std::vector<Runner::Verb>& verbs) {
  verbs.push_back({"import", "import FILE.reg", [](Runner& r, const Line& line) {
                     Need(r, line, 2, 2, "import FILE.reg");
                     const auto path = r.Resolve(line, line.words[1]);
                     bool ok = false;
                     const std::string text = ReadFile(path, &ok);
                     if (!ok) r.Fail(line, "cannot read \"" + path.string() + "\"");
                     if (auto error = sim::ImportReg(r.device_.registry(), text, path.string())) {
                       r.Fail(line, "cannot import: " + error->ToString());
                     }
                   }});

  verbs.push_back({"export", "export [KEY] [to FILE]", [](Runner& r, const Line& line) {
                     sim::RegScope scope;
                     std::optional<std::filesystem::path> file;
                     std::size_t i = 1;
                     if (i < line.words.size() && Lower(line.words[i]) != "to") {
                       std::u16string rest;
                       const HKEY root = r.RootOf(line, line.words[i], &rest);
                       scope = std::make_pair(root, rest);
                       ++i;
                     }
                     if (i < line.words.size()) {
                       if (Lower(line.words[i]) != "to" || i + 2 != line.words.size()) {
                         r.Fail(line, "usage: export [KEY] [to FILE]");
                       }
                       file = r.Resolve(line, line.words[i + 1]);
                     }
                     const sim::RegistryImage image = r.device_.registry().Image();
                     if (const auto problem = sim::UnwritableName(image, scope)) {
                       r.Fail(line, "cannot export: " + *problem);
                     }
                     const std::string text = sim::ExportReg(image, scope);
                     if (file) {
                       std::ofstream output(*file, std::ios::binary);
                       output << text;
                       if (!output) r.Fail(line, "cannot write \"" + file->string() + "\"");
                       r.out_ << "    exported to " << file->string() << "\n";
                     } else {
                       std::istringstream lines(text);
                       for (std::string row; std::getline(lines, row);) r.out_ << "    | " << row << "\n";
                     }
                   }});
}

}  // namespace qx::qxsim
