// Speed of the registry as the program uses it: the point read of ReadRegDword (open
// the key for reading, query a DWORD, close), the write of WriteRegDword, and the
// same read through the store alone, on a registry file in a temporary directory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/handset/registry/factory_values.h"
#include "platform/handset/registry/store.h"
#include "platform/winreg.h"

namespace {

// A factory-state registry with the program's settings, current for the API.
class BenchRegistry {
public:
    BenchRegistry() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quillon-regbench-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        dir_ = tmpl;
        auto store = std::make_unique<handset::RegistryStore>((dir_ / "registry.db").string());
        handset::write_factory_registry(*store, "skt");
        for (const char16_t* name : {u"enableCallAlert", u"AlertInterval", u"KeylockTimeout"})
            store->set_value({handset::RegRoot::CurrentUser, u"Software\\Quillon"}, name, REG_DWORD,
                             handset::dword_bytes(1), handset::Notify::Quiet);
        handset::set_registry(std::move(store));
    }
    ~BenchRegistry() {
        handset::set_registry(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

private:
    std::filesystem::path dir_;
};

void BM_ReadRegDword(benchmark::State& state) {
    BenchRegistry reg;
    for (auto _ : state) {
        HKEY key = nullptr;
        DWORD value = 0, size = 4;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"System\\State\\Phone", 0, KEY_READ, &key) != ERROR_SUCCESS) {
            state.SkipWithError("open failed");
            break;
        }
        const LONG rc = RegQueryValueExW(key, u"Missed Call Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                         &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) {
            state.SkipWithError("query failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ReadRegDword);

void BM_ReadMissingKey(benchmark::State& state) {
    BenchRegistry reg;
    for (auto _ : state) {
        HKEY key = nullptr;
        benchmark::DoNotOptimize(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing", 0, KEY_READ, &key));
    }
}
BENCHMARK(BM_ReadMissingKey);

void BM_StoreQueryValue(benchmark::State& state) {
    BenchRegistry reg;
    auto store = handset::current_registry();
    handset::KeyId id = 0;
    store->find_key({handset::RegRoot::CurrentUser, u"Software\\Quillon"}, id);
    for (auto _ : state) {
        DWORD type = 0, value = 0;
        std::size_t size = 0;
        store->query_value(id, u"AlertInterval", type, reinterpret_cast<std::uint8_t*>(&value), 4, size);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_StoreQueryValue);

void BM_WriteRegDword(benchmark::State& state) {
    BenchRegistry reg;
    DWORD value = 0;
    for (auto _ : state) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Quillon", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        ++value;
        RegSetValueExW(key, u"AlertInterval", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        RegCloseKey(key);
    }
}
BENCHMARK(BM_WriteRegDword);

}  // namespace

BENCHMARK_MAIN();
