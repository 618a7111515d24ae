// The layers of the core: control -> output -> intake -> platform. A file includes headers of its
// own layer and the layers below it only, and the core reaches the operating system only through
// the platform layer: no core file includes an operating-system header or tests which platform it
// is built for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

// The project folders each layer may include from.
const std::map<std::string, std::set<std::string>> kAllowedIncludes = {
    {"control", {"control", "output", "intake", "platform"}},
    {"output", {"output", "intake", "platform"}},
    {"intake", {"intake", "platform"}},
    {"platform", {"platform"}},
};

void ForEachLine(const std::string& folder,
                 const std::function<void(const std::filesystem::path&, int, const std::string&)>& visit) {
    auto root = std::filesystem::path(UDPTRAIL_SOURCE_DIR) / "src" / folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path());
        std::string line;
        for (int number = 1; std::getline(file, line); ++number) visit(entry.path(), number, line);
    }
}

TEST(Layering, EachLayerIncludesOnlyItsOwnAndTheLayersBelow) {
    const std::regex projectInclude(R"(#\s*include\s*"([a-z_]+)/)");
    int includes = 0;
    for (const auto& [layer, allowed] : kAllowedIncludes) {
        ForEachLine(layer, [&](const std::filesystem::path& path, int number, const std::string& line) {
            std::smatch match;
            if (!std::regex_search(line, match, projectInclude)) return;
            ++includes;
            EXPECT_TRUE(allowed.count(match[1].str()) == 1)
                << path << ":" << number << ": " << layer << " may not include " << line;
        });
    }
    EXPECT_GT(includes, 40);
}

TEST(Layering, CoreFilesIncludeNoOperatingSystemHeaders) {
    const std::regex forbidden(
        R"(#\s*include\s*<(sys/|unistd\.h|termios\.h|windows\.h|winsock|pthread\.h|arpa/|netinet/|poll\.h|fcntl\.h|dirent\.h|signal\.h|pty\.h|netdb\.h)|#\s*if(def|ndef)?\s.*(_WIN32|__linux__|__unix__|__APPLE__))");
    int checked = 0;
    for (const char* folder : {"control", "intake", "output"}) {
        ForEachLine(folder, [&](const std::filesystem::path& path, int number, const std::string& line) {
            EXPECT_FALSE(std::regex_search(line, forbidden)) << path << ":" << number << ": " << line;
            ++checked;
        });
    }
    EXPECT_GT(checked, 500);
}

}  // namespace
