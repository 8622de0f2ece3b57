// The automation control's cost over the flat interface: the same operation
// called through IDispatch::Invoke (argument reading, the control's engine,
// a result variant) and as the flat export, in one run, then the ratio of
// their times per call.
//
//   control_bench [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "best_run_reporter.h"
#include "QuorvantControl.h"

namespace {

constexpr DISPID kGetErrorCode = 2;
constexpr DISPID kHash = 30;
constexpr int32_t kSha256 = 3;

IZEBCapi* TheControl() {
  static IZEBCapi* control = [] {
    IClassFactory* factory = nullptr;
    IZEBCapi* c = nullptr;
    if (DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory,
                          reinterpret_cast<void**>(&factory)) != S_OK ||
        factory->CreateInstance(nullptr, &IID_IZEBCapi, reinterpret_cast<void**>(&c)) != S_OK) {
      std::fprintf(stderr, "control_bench: no control\n");
      std::exit(1);
    }
    factory->Release();
    return c;
  }();
  return control;
}

BSTR KibText() {
  static BSTR text = [] {
    std::u16string kib(1024, u'a');
    for (size_t i = 0; i < kib.size(); ++i) kib[i] = static_cast<char16_t>(u'a' + i % 26);
    return SysAllocStringLen(kib.data(), static_cast<uint32_t>(kib.size()));
  }();
  return text;
}

void InvokeGetErrorCode(benchmark::State& state) {
  IZEBCapi* c = TheControl();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    c->Invoke(kGetErrorCode, &IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.lVal);
  }
}

void FlatGetErrorCode(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(GetErrorCode());
}

void InvokeHash(benchmark::State& state) {
  IZEBCapi* c = TheControl();
  VARIANT args[2];
  std::memset(args, 0, sizeof(args));
  args[1].vt = VT_BSTR;  // passed last first
  args[1].bstrVal = KibText();
  args[0].vt = VT_I4;
  args[0].lVal = kSha256;
  DISPPARAMS params{args, nullptr, 2, 0};
  for (auto _ : state) {
    VARIANT result;
    c->Invoke(kHash, &IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    SysFreeString(result.bstrVal);
  }
}

void FlatHash(benchmark::State& state) {
  for (auto _ : state) SysFreeString(Hash(KibText(), kSha256));
}

BENCHMARK(InvokeGetErrorCode);
BENCHMARK(FlatGetErrorCode);
BENCHMARK(InvokeHash);
BENCHMARK(FlatHash);


}  // namespace

int main(int argc, char** argv) {
  if (!quorvant::bench::InitializeRepeated(argc, argv, "0.2")) return 1;
  quorvant::bench::BestRunReporter reporter(quorvant::bench::BestOf::kRealSeconds);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-26s %12s %12s %7s\n", "operation", "Invoke ns", "flat ns", "ratio");
  const std::pair<const char*, const char*> pairs[] = {
      {"InvokeGetErrorCode", "FlatGetErrorCode"}, {"InvokeHash", "FlatHash"}};
  const char* labels[] = {"GetErrorCode", "Hash (1 KiB, SHA-256)"};
  for (size_t i = 0; i < 2; ++i) {
    const double invoke = reporter.best(pairs[i].first) * 1e9;
    const double flat = reporter.best(pairs[i].second) * 1e9;
    if (invoke == 0.0 || flat == 0.0) continue;
    std::printf("%-26s %12.1f %12.1f %7.2f\n", labels[i], invoke, flat, invoke / flat);
  }
  benchmark::Shutdown();
  return 0;
}
