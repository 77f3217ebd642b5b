// Runs a fuzz target's oracle without libFuzzer, so that the suite replays the seed corpus
// and fixed sweeps on every build: each argument is a file, a folder of files, or an input
// written out in hexadecimal after --hex. A broken oracle aborts the program.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Run(const std::vector<std::uint8_t>& input) {
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return 1;
}

int RunFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Run({std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()});
}

}  // namespace

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--hex" && i + 1 < argc) {
      const std::string hex = argv[++i];
      std::vector<std::uint8_t> bytes;
      for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(at, 2), nullptr, 16)));
      }
      inputs += Run(bytes);
    } else if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::directory_iterator(arg)) inputs += RunFile(e.path());
    } else {
      inputs += RunFile(arg);
    }
  }
  std::printf("%s: %d inputs, every one as the oracle says\n", argv[0], inputs);
  return inputs > 0 ? 0 : 1;
}
