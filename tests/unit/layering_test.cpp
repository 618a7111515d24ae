// The core reaches the operating system only through the platform layer: no core file includes
// an operating-system header or tests which platform it is built for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace {

TEST(Layering, CoreFilesIncludeNoOperatingSystemHeaders) {
    const std::regex forbidden(
        R"(#\s*include\s*<(sys/|unistd\.h|termios\.h|windows\.h|winsock|pthread\.h|arpa/|netinet/|poll\.h|fcntl\.h|dirent\.h|signal\.h|pty\.h)|#\s*if(def|ndef)?\s.*(_WIN32|__linux__|__unix__|__APPLE__))");
    int checked = 0;
    for (const char* folder : {"control", "intake", "output"}) {
        auto root = std::filesystem::path(UDPTRAIL_SOURCE_DIR) / "src" / folder;
        for (const auto& entry : std::filesystem::directory_iterator(root)) {
            std::ifstream file(entry.path());
            std::string line;
            int number = 0;
            while (std::getline(file, line)) {
                ++number;
                EXPECT_FALSE(std::regex_search(line, forbidden))
                    << entry.path() << ":" << number << ": " << line;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 10);
}

}  // namespace
