// The benchmark program's entry: prints the corpus sizes, then runs every registered benchmark.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "corpus.h"

int main(int argc, char** argv) {
  using namespace ocelo::bench;
  std::printf("corpus: %zu characters; Shift_JIS %zu bytes, UTF-8 %zu bytes, UTF-16LE %zu bytes\n",
              CorpusText().size(), CorpusShiftJis().size(), CorpusUtf8().size(), CorpusUtf16Le().size());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
