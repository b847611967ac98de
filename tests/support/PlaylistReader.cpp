#include "support/PlaylistReader.h"

#include <nlohmann/json.hpp>

#include "support/Process.h"

namespace qmtest {

namespace {

constexpr const char* kTotemScript = R"PY(
import json, sys
import gi
gi.require_version("TotemPlParser", "1.0")
from gi.repository import Gio, TotemPlParser

parser = TotemPlParser.Parser()
uris = []
parser.connect("entry-parsed", lambda p, uri, metadata: uris.append(uri))
result = parser.parse(Gio.File.new_for_path(sys.argv[1]).get_uri(), False)
if result != TotemPlParser.ParserResult.SUCCESS:
    sys.exit(2)
paths = []
for uri in uris:
    path = Gio.File.new_for_uri(uri).get_path() if "://" in uri else uri
    paths.append(path if path is not None else uri)
print(json.dumps(paths))
)PY";

} // namespace

PlaylistEntries ReadPlaylist(const std::filesystem::path& list) {
    PlaylistEntries entries;
    const CommandResult run = Run(std::string(SystemPython()) + " -c " + ShellQuote(kTotemScript) +
                                  " " + ShellQuote(list.string()));
    if (run.exitCode != 0) {
        return entries;
    }
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    if (json.is_discarded() || !json.is_array()) {
        return entries;
    }
    for (const auto& path : json) {
        entries.paths.push_back(path.get<std::string>());
    }
    entries.ok = true;
    return entries;
}

bool XmlWellFormed(const std::filesystem::path& file, std::string* complaint) {
    const CommandResult run = Run("xmllint --noout " + ShellQuote(file.string()), true);
    if (complaint != nullptr) {
        *complaint = run.out;
    }
    return run.exitCode == 0;
}

} // namespace qmtest
