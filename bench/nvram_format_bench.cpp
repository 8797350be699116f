// The settings store format over the largest store allowed: 2048 entries in
// 64 KiB. Keys all have the same length, so the check's repeat scan cannot
// skip a single compare on length alone: its worst case.
#include "nvram_format.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Lines of 32 bytes: "wl0_setting_NNNN=" (17), a 14-byte value, "\n".
std::string largest_store() {
    std::string text;
    for (size_t n = 0; n < nvram::kMaxEntries; ++n) {
        char line[40];
        std::snprintf(line, sizeof line, "wl0_setting_%04zu=value-%08zu\n", n, n);
        text += line;
    }
    return text;
}

// The same size and entry count with key lengths from 8 to 24 bytes, as
// real settings names vary: most repeat-scan compares stop at the length.
std::string largest_store_mixed_keys() {
    std::string text;
    for (size_t n = 0; n < nvram::kMaxEntries; ++n) {
        std::string key = "k" + std::to_string(n);
        key.resize(8 + n % 17, '_');
        text += key;
        text += '=';
        text.append(32 - key.size() - 2, 'v');
        text += '\n';
    }
    return text;
}

const std::string &store() {
    static const std::string text = largest_store();
    return text;
}

std::string last_key() {
    char key[32];
    std::snprintf(key, sizeof key, "wl0_setting_%04zu", nvram::kMaxEntries - 1);
    return key;
}

// Parse: the whole check every read of the store makes before trusting it.
void check_largest(benchmark::State &state, const std::string &text) {
    std::vector<nvram::KeySpan> scratch(nvram::scratch_spans(text.size()));
    for (auto _ : state) {
        nvram::StoreCheck check = nvram::check_store(text, scratch.data());
        benchmark::DoNotOptimize(check);
    }
    nvram::StoreCheck check = nvram::check_store(text, scratch.data());
    if (text.size() != nvram::kMaxStoreBytes || check.damage != nvram::Damage::none ||
        check.entries != nvram::kMaxEntries)
        state.SkipWithError("the fixture is not the largest sound store");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

void BM_CheckLargestStore(benchmark::State &state) {
    check_largest(state, store());
}
BENCHMARK(BM_CheckLargestStore);

void BM_CheckLargestStoreMixedKeys(benchmark::State &state) {
    static const std::string text = largest_store_mixed_keys();
    check_largest(state, text);
}
BENCHMARK(BM_CheckLargestStoreMixedKeys);

// Lookup of the key on the last line.
void BM_FindLastValue(benchmark::State &state) {
    const std::string &text = store();
    const std::string key = last_key();
    std::string_view value;
    for (auto _ : state) {
        bool found = nvram::find_value(text, key, value);
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(value);
    }
    if (!nvram::find_value(text, key, value) || value != "value-00002047")
        state.SkipWithError("the last key was not found");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_FindLastValue);

// Serializes the store with one edit (a set when `value` is given, else an
// unset) and checks the new text's length.
void run_edit(benchmark::State &state, const std::string &key, const std::string_view *value,
              long expect_size, const char *fault) {
    const std::string &text = store();
    std::vector<char> out(
        nvram::edit_bound(text, key, value != nullptr ? *value : std::string_view()));
    long n = 0;
    for (auto _ : state) {
        n = nvram::apply_edit(text, key, value, out.data(), out.size());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    if (n != expect_size)
        state.SkipWithError(fault);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

// Serialize: the new store text for a set of the last key, which every set
// writes out whole.
void BM_SetLastKey(benchmark::State &state) {
    const std::string_view value = "value-changed!";
    run_edit(state, last_key(), &value, static_cast<long>(store().size()),
             "the set did not keep the store's size");
}
BENCHMARK(BM_SetLastKey);

// Serialize with the first key removed: every later line moves.
void BM_UnsetFirstKey(benchmark::State &state) {
    run_edit(state, "wl0_setting_0000", nullptr, static_cast<long>(store().size()) - 32,
             "the unset did not remove one line");
}
BENCHMARK(BM_UnsetFirstKey);

} // namespace
