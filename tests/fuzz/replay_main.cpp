// Runs a fuzz target over every file of the given corpus folders, without libFuzzer, so that any
// compiler and any build replays the committed corpus. A corpus with no file fails: a replay that
// checks nothing must not pass.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
            if (entry.is_regular_file()) files.push_back(entry.path());
    for (const auto& path : files)
    {
        const std::vector<uint8_t> bytes{
            std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
