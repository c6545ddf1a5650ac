// Throughput of the bridge's JSON reader and escapes on large texts, beside memcpy of the same
// bytes (the physical limit) and nlohmann-json's serialisation of the same text.
//
// Sizes are the UTF-16 bytes of the text; every figure (bytes_per_second) counts those bytes, so
// all rows of one size compare work on the same text. Sizes from 64 KiB to 64 MiB show whether
// the time grows linearly; from 16 MiB on, results are blocks the allocator maps afresh, so
// those rows also pay the kernel's first touch of every page.
#include <benchmark/benchmark.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "core/text.h"

namespace {

enum class Script { ascii, non_ascii };

// Text of the given UTF-16 byte size. ASCII text is letters, digits, blanks and punctuation,
// with one unit in 64 that needs an escape somewhere (quote, apostrophe, backslash, line feed);
// non-ASCII text is nine units in ten outside ASCII (Cyrillic, CJK, and some non-BMP pairs).
std::u16string make_text(std::size_t bytes, Script script) {
  std::mt19937 random(7);
  const std::size_t units = bytes / sizeof(char16_t);
  static const char16_t specials[] = {u'"', u'\'', u'\\', u'\n'};
  static const std::u16string_view plain =
      u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,-/:;_()";
  std::u16string text;
  text.reserve(units);
  while (text.size() < units) {
    const unsigned roll = random() % 64;
    if (script == Script::ascii) {
      text.push_back(roll == 0 ? specials[random() % 4] : plain[random() % plain.size()]);
    } else if (roll < 6) {
      text.push_back(static_cast<char16_t>(u'a' + random() % 26));
    } else if (roll < 8 && text.size() + 2 <= units) {
      text.push_back(0xD83D);
      text.push_back(static_cast<char16_t>(0xDE00 + random() % 64));
    } else if (roll < 36) {
      text.push_back(static_cast<char16_t>(0x0410 + random() % 64));
    } else {
      text.push_back(static_cast<char16_t>(0x4E00 + random() % 4096));
    }
  }
  return text;
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
}

void report(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_memcpy(benchmark::State& state) {
  const std::vector<char> from(state.range(0), 'x');
  std::vector<char> to(state.range(0));
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  report(state);
}

// Copy into a freshly allocated string, as every escape's result is.
void BM_copy_to_new_string(benchmark::State& state) {
  const std::u16string text = make_text(state.range(0), Script::ascii);
  for (auto _ : state) {
    std::u16string copy(text);
    benchmark::DoNotOptimize(copy.data());
  }
  report(state);
}

template <std::u16string (*Escape)(std::optional<std::u16string_view>), Script S>
void BM_escape(benchmark::State& state) {
  const std::u16string text = make_text(state.range(0), S);
  for (auto _ : state) {
    std::u16string out = Escape(text);
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

template <Script S>
void BM_nlohmann_dump(benchmark::State& state) {
  const std::string text = *wide_to_utf8(make_text(state.range(0), S));
  for (auto _ : state) {
    std::string out = nlohmann::json(text).dump();
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

// Reading one large value: the whole text is the value of "k", escapes written as the page
// writes them.
template <Script S>
void BM_json_get_string_value(benchmark::State& state) {
  const std::u16string json = u"{\"k\":\"" + json_escape(make_text(state.range(0), S)) + u"\"}";
  for (auto _ : state) {
    auto value = json_get_string(json, u"k");
    benchmark::DoNotOptimize(value->data());
  }
  report(state);
}

// Searching for a key that stands last, behind many short members.
void BM_json_get_string_search(benchmark::State& state) {
  std::u16string json = u"{";
  while (json.size() * sizeof(char16_t) < static_cast<std::size_t>(state.range(0))) {
    json += u"\"pad\":\"0123456789abcdef\",";
  }
  json += u"\"path\":\"/out/a.pdf\"}";
  for (auto _ : state) {
    auto value = json_get_string(json, u"path");
    benchmark::DoNotOptimize(value->data());
  }
  report(state);
}

BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK(BM_copy_to_new_string)->Apply(sizes);
BENCHMARK(BM_escape<json_quote, Script::ascii>)->Name("json_quote/ascii")->Apply(sizes);
BENCHMARK(BM_nlohmann_dump<Script::ascii>)->Name("nlohmann_dump/ascii")->Apply(sizes);
BENCHMARK(BM_escape<json_quote, Script::non_ascii>)->Name("json_quote/non_ascii")->Apply(sizes);
BENCHMARK(BM_nlohmann_dump<Script::non_ascii>)->Name("nlohmann_dump/non_ascii")->Apply(sizes);
BENCHMARK(BM_escape<json_escape, Script::ascii>)->Name("json_escape/ascii")->Apply(sizes);
BENCHMARK(BM_escape<json_escape, Script::non_ascii>)->Name("json_escape/non_ascii")->Apply(sizes);
BENCHMARK(BM_escape<js_escape, Script::ascii>)->Name("js_escape/ascii")->Apply(sizes);
BENCHMARK(BM_escape<js_escape, Script::non_ascii>)->Name("js_escape/non_ascii")->Apply(sizes);
BENCHMARK(BM_json_get_string_value<Script::ascii>)
    ->Name("json_get_string_value/ascii")
    ->Apply(sizes);
BENCHMARK(BM_json_get_string_value<Script::non_ascii>)
    ->Name("json_get_string_value/non_ascii")
    ->Apply(sizes);
BENCHMARK(BM_json_get_string_search)->Name("json_get_string_search")->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
