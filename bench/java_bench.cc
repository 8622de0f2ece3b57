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
#include <string>
#include <vector>

#include "best_run_reporter.h"
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


void PrintTable(const quorvant::bench::BestRunReporter& r) {
  std::printf("\n%-30s %12s %12s %8s\n", "method", "Java ns", "flat ns", "ratio");
  const struct {
    const char* what;
    const char* java;
    const char* flat;
  } rows[] = {{"int GetErrorCode()", "BM_JavaInt", "BM_FlatInt"},
              {"String Hash(\"abc\", 0)", "BM_JavaString", "BM_FlatString"}};
  for (const auto& row : rows) {
    const double javaRate = r.best(row.java), flatRate = r.best(row.flat);
    if (javaRate == 0 || flatRate == 0) continue;
    const double java = 1e9 / javaRate, flat = 1e9 / flatRate;
    if (java == 0 || flat == 0) continue;
    std::printf("%-30s %12.1f %12.1f %8.2f\n", row.what, java, flat, java / flat);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!quorvant::bench::InitializeRepeated(argc, argv, "0.3")) return 1;
  if (!StartJvm()) {
    std::fprintf(stderr, "java_bench: the JVM or the jar could not be loaded\n");
    return 1;
  }
  benchmark::RegisterBenchmark("BM_JavaInt", BM_JavaInt);
  benchmark::RegisterBenchmark("BM_FlatInt", BM_FlatInt);
  benchmark::RegisterBenchmark("BM_JavaString", BM_JavaString);
  benchmark::RegisterBenchmark("BM_FlatString", BM_FlatString);
  quorvant::bench::BestRunReporter reporter(quorvant::bench::BestOf::kItemsPerSecond);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter);
  benchmark::Shutdown();
  // The JVM is left to the process exit: DestroyJavaVM waits for every
  // non-daemon thread and gains nothing here.
  return 0;
}
