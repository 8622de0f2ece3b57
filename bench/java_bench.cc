// The Java native methods against the flat exports they call, in one
// process: an int method without arguments (GetErrorCode, the crossing
// alone) and a String method (Hash of "abc", a string in and a string out).
// The JVM is started here with the library's jar; the Java side loops in
// compiled Java code, 1,000 calls per benchmark iteration, so each Java
// figure is the cost of one call as a Java program pays it. Prints the time
// per call of each and the ratio Java / flat.
#include <jni.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "QuorvantATL.h"

namespace {

constexpr int kCallsPerLoop = 1000;

struct Jvm {
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  jclass loops = nullptr;
  jobject applet = nullptr;
  jmethodID errorCodes = nullptr;
  jmethodID hashes = nullptr;
};

Jvm& TheJvm() {
  static Jvm jvm;
  return jvm;
}

bool StartJvm() {
  std::string classPath = "-Djava.class.path=" QUORVANT_JAR ":" QUORVANT_BENCH_JAR;
  std::string library = "-Dquorvant.library=" QUORVANT_LIBRARY;
  JavaVMOption options[2] = {{classPath.data(), nullptr}, {library.data(), nullptr}};
  JavaVMInitArgs init{};
  init.version = JNI_VERSION_1_8;
  init.nOptions = 2;
  init.options = options;
  Jvm& jvm = TheJvm();
  if (JNI_CreateJavaVM(&jvm.vm, reinterpret_cast<void**>(&jvm.env), &init) != JNI_OK) return false;
  JNIEnv* env = jvm.env;
  jclass appletClass = env->FindClass("com/ZEB/QuorvantApplet");
  jvm.loops = env->FindClass("JavaBenchLoops");
  if (appletClass == nullptr || jvm.loops == nullptr) return false;
  jmethodID constructor = env->GetMethodID(appletClass, "<init>", "()V");
  jvm.applet = constructor ? env->NewObject(appletClass, constructor) : nullptr;
  jvm.errorCodes = env->GetStaticMethodID(jvm.loops, "errorCodes", "(Lcom/ZEB/QuorvantApplet;I)I");
  jvm.hashes = env->GetStaticMethodID(jvm.loops, "hashes", "(Lcom/ZEB/QuorvantApplet;I)I");
  if (env->ExceptionCheck()) env->ExceptionDescribe();
  return jvm.applet != nullptr && jvm.errorCodes != nullptr && jvm.hashes != nullptr;
}

void JavaLoop(benchmark::State& state, jmethodID loop) {
  Jvm& jvm = TheJvm();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        jvm.env->CallStaticIntMethod(jvm.loops, loop, jvm.applet, kCallsPerLoop));
  }
  if (jvm.env->ExceptionCheck()) {
    jvm.env->ExceptionDescribe();
    state.SkipWithError("the Java loop threw");
  }
  state.SetItemsProcessed(state.iterations() * kCallsPerLoop);
}

void BM_JavaInt(benchmark::State& state) { JavaLoop(state, TheJvm().errorCodes); }
void BM_JavaString(benchmark::State& state) { JavaLoop(state, TheJvm().hashes); }

void BM_FlatInt(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(GetErrorCode());
  state.SetItemsProcessed(state.iterations());
}

void BM_FlatString(benchmark::State& state) {
  for (auto _ : state) {
    BSTR digest = Hash(u"abc", 0);
    benchmark::DoNotOptimize(SysStringLen(digest));
    SysFreeString(digest);
  }
  state.SetItemsProcessed(state.iterations());
}

// Keeps the best rate of each benchmark: the machine is shared.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto it = run.counters.find("items_per_second");
      if (it == run.counters.end()) continue;
      double& best = best_[run.run_name.function_name];
      best = std::max(best, static_cast<double>(it->second.value));
    }
  }
  double nanosecondsPerCall(const std::string& name) const {
    auto it = best_.find(name);
    return it == best_.end() || it->second == 0 ? 0.0 : 1e9 / it->second;
  }

 private:
  std::map<std::string, double> best_;
};

void PrintTable(const RatioReporter& r) {
  std::printf("\n%-30s %12s %12s %8s\n", "method", "Java ns", "flat ns", "ratio");
  const struct {
    const char* what;
    const char* java;
    const char* flat;
  } rows[] = {{"int GetErrorCode()", "BM_JavaInt", "BM_FlatInt"},
              {"String Hash(\"abc\", 0)", "BM_JavaString", "BM_FlatString"}};
  for (const auto& row : rows) {
    const double java = r.nanosecondsPerCall(row.java);
    const double flat = r.nanosecondsPerCall(row.flat);
    if (java == 0 || flat == 0) continue;
    std::printf("%-30s %12.1f %12.1f %8.2f\n", row.what, java, flat, java / flat);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=3";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string minTime = "--benchmark_min_time=0.3";
  args.insert(args.begin() + 1, {reps.data(), interleave.data(), minTime.data()});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  if (!StartJvm()) {
    std::fprintf(stderr, "java_bench: the JVM or the jar could not be loaded\n");
    return 1;
  }
  benchmark::RegisterBenchmark("BM_JavaInt", BM_JavaInt);
  benchmark::RegisterBenchmark("BM_FlatInt", BM_FlatInt);
  benchmark::RegisterBenchmark("BM_JavaString", BM_JavaString);
  benchmark::RegisterBenchmark("BM_FlatString", BM_FlatString);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter);
  benchmark::Shutdown();
  // The JVM is left to the process exit: DestroyJavaVM waits for every
  // non-daemon thread and gains nothing here.
  return 0;
}
