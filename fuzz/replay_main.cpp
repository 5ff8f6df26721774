// Without libFuzzer (the ordinary g++ build), a fuzzer is this program: it
// feeds every file of the corpus directories (or the files) it is given to
// LLVMFuzzerTestOneInput once, so that CTest keeps the seeds and every past
// finding passing. A violated invariant aborts, which fails the test.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool readFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
            }
        } else {
            inputs.push_back(arg);
        }
        if (error) {
            std::fprintf(stderr, "cannot read %s: %s\n", argv[i], error.message().c_str());
            return 2;
        }
    }
    // A corpus that went missing must not pass as an empty success.
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...: no inputs found\n", argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());

    std::vector<std::uint8_t> bytes;
    for (const auto& path : inputs) {
        if (!readFile(path, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
            return 2;
        }
        std::fprintf(stderr, "%s\n", path.string().c_str());
        // libFuzzer never passes a null pointer, not even for an empty input.
        static const std::uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::printf("%zu inputs passed\n", inputs.size());
    return 0;
}
