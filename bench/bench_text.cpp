// Text_Find and Text_Between over a page of a few megabytes of mixed ASCII and
// double-byte text, beside std::string_view::find on the same bytes in the same run.
// Prints how many times slower each of ours is than the baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "bench/ratio_reporter.h"
#include "text/text_ops.h"

namespace tavrolin {
namespace {

// Article-like markup: ASCII tags and attributes with GBK prose between them, some of
// whose characters have ASCII letters as second bytes (镕 is E9 46). The needle's
// first letter is common, so candidates come often and each must be checked.
const Text& Page() {
  static const Text page = [] {
    const Text paragraph =
        "<div class=\"rich_media_content\" style=\"visibility: visible;\"><p>"
        "中文段落，镕铁试验：检查GBK文本的字符步进。Hello World 123 var x = 1;</p></div>\n"
        "<span data-v=\"vvv\">提取复制原始ID，请确认微信链接是否正确。</span>\n";
    Text out;
    while (out.size() < 4 * 1024 * 1024) out += paragraph;
    out += "<script>var user_name = \"gh_0123456789ab\";</script>\n";
    return out;
  }();
  return page;
}

constexpr const char* kNeedle = "var user_name = \"";
constexpr const char* kNeedleUpper = "VAR USER_NAME = \"";

void BM_Baseline_StringViewFind(benchmark::State& state) {
  const std::string_view page = Page().view();
  for (auto _ : state) benchmark::DoNotOptimize(page.find(kNeedle));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_Baseline_Between(benchmark::State& state) {
  const std::string_view page = Page().view();
  for (auto _ : state) {
    std::size_t p = page.find(kNeedle);
    std::size_t q = p + std::string_view(kNeedle).size();
    std::size_t e = page.find('"', q);
    std::string cut(page.substr(q, e - q));
    benchmark::DoNotOptimize(cut);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_TextFind_Exact(benchmark::State& state) {
  const Text& page = Page();
  const Text needle = kNeedle;
  for (auto _ : state) benchmark::DoNotOptimize(Text_Find(page, needle, 1, false));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_TextFind_IgnoreCase(benchmark::State& state) {
  const Text& page = Page();
  const Text needle = kNeedleUpper;
  for (auto _ : state) benchmark::DoNotOptimize(Text_Find(page, needle, 1, true));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_TextBetween(benchmark::State& state) {
  const Text& page = Page();
  const Text start_marker = "var user_name = #引号";
  const Text end_marker = "#引号";
  for (auto _ : state) {
    Text cut = Text_Between(page, start_marker, end_marker);
    benchmark::DoNotOptimize(cut);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BM_Baseline_StringViewFind);
BENCHMARK(BM_TextFind_Exact);
BENCHMARK(BM_TextFind_IgnoreCase);
BENCHMARK(BM_Baseline_Between);
BENCHMARK(BM_TextBetween);

}  // namespace
}  // namespace tavrolin

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Check that the search really works before timing it.
  const tavrolin::Text& page = tavrolin::Page();
  if (tavrolin::Text_Between(page, "var user_name = #引号", "#引号") != "gh_0123456789ab" ||
      tavrolin::Text_Find(page, tavrolin::kNeedleUpper, 1, true) !=
          tavrolin::Text_Find(page, tavrolin::kNeedle)) {
    std::fprintf(stderr, "the searches disagree with the page\n");
    return 1;
  }
  tavrolin::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("page: %zu bytes\n", page.size());
  reporter.PrintRatio("exact", "BM_TextFind_Exact", "BM_Baseline_StringViewFind", 2);
  reporter.PrintRatio("ignore case", "BM_TextFind_IgnoreCase", "BM_Baseline_StringViewFind", 4);
  reporter.PrintRatio("between", "BM_TextBetween", "BM_Baseline_Between", 2);
  benchmark::Shutdown();
  return 0;
}
