// The benchmark program's entry: prints the corpus sizes, then runs every registered benchmark.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string_view>

#include "corpus.h"

// "--write-corpus=PATH" writes the Shift_JIS corpus to PATH and exits (for bench/e2e.sh).
int WriteCorpus(const char* path) {
  const ocelo::bench::Bytes& bytes = ocelo::bench::CorpusShiftJis();
  std::FILE* file = std::fopen(path, "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
    std::perror(path);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  using namespace ocelo::bench;
  constexpr std::string_view kWriteCorpus = "--write-corpus=";
  if (argc == 2 && std::string_view(argv[1]).starts_with(kWriteCorpus)) {
    return WriteCorpus(argv[1] + kWriteCorpus.size());
  }
  std::printf("corpus: %zu characters; Shift_JIS %zu bytes, UTF-8 %zu bytes, UTF-16LE %zu bytes\n", CorpusText().size(),
              CorpusShiftJis().size(), CorpusUtf8().size(), CorpusUtf16Le().size());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
