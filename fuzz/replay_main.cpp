// Runs a fuzz target once over every file named on the command line, and over
// every file in each folder named there, for builds without libFuzzer: the
// corpus and the saved crash inputs then run as ordinary tests.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::vector<std::filesystem::path> inputs;
        if (std::filesystem::is_directory(argv[i], error)) {
            for (std::filesystem::directory_iterator it(argv[i], error), end; !error && it != end;
                 it.increment(error)) {
                if (it->is_regular_file(error)) {
                    inputs.push_back(it->path());
                }
            }
            std::sort(inputs.begin(), inputs.end());
        } else {
            inputs.emplace_back(argv[i]);
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        for (const auto& input : inputs) {
            if (!RunFile(input)) {
                return 1;
            }
            ++ran;
        }
    }
    std::fprintf(stderr, "%d inputs ran\n", ran);
    // A replay that finds nothing to run proves nothing.
    return ran > 0 ? 0 : 1;
}
