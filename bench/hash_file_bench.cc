// HashFile of a 1 GiB file against `openssl dgst` on the same file: both run
// as child processes (the quorvant tool calls the HashFile export), so wall
// time and peak memory are measured the same way for each.
//
//   hash_file_bench [--file=PATH]   default: a 1 GiB file in $TMPDIR or /tmp
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr off_t kFileSize = off_t{1} << 30;

struct ChildRun {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

ChildRun RunChild(const std::vector<std::string>& argv) {
  ChildRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage{};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return run;
}

std::string& FilePath() {
  static std::string path;
  return path;
}

// Random bytes, written once; read once more so the cache is warm.
bool PrepareFile(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || st.st_size != kFileSize) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::mt19937_64 rng(42);
    std::vector<uint64_t> block((1 << 20) / sizeof(uint64_t));
    for (off_t written = 0; written < kFileSize; written += 1 << 20) {
      for (auto& w : block) w = rng();
      std::fwrite(block.data(), 1, 1 << 20, f);
    }
    std::fclose(f);
  }
  std::vector<char> sink(1 << 20);
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  while (::read(fd, sink.data(), sink.size()) > 0) {
  }
  ::close(fd);
  return true;
}

struct Totals {
  double best = 1e300;
  long peakKiB = 0;
};
Totals ours, openssl;

void Measure(benchmark::State& state, const std::vector<std::string>& argv, Totals* totals) {
  for (auto _ : state) {
    ChildRun run = RunChild(argv);
    if (!run.ok) {
      state.SkipWithError("child failed");
      return;
    }
    state.SetIterationTime(run.seconds);
    totals->best = std::min(totals->best, run.seconds);
    totals->peakKiB = std::max(totals->peakKiB, run.peakKiB);
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
  state.counters["peak_MiB"] = static_cast<double>(totals->peakKiB) / 1024.0;
}

void BM_HashFileQuorvant(benchmark::State& state) {
  Measure(state, {QUORVANT_TOOL, "hash-file", "--sha256", FilePath()}, &ours);
}
void BM_OpensslDgst(benchmark::State& state) {
  Measure(state, {"openssl", "dgst", "-sha256", FilePath()}, &openssl);
}

}  // namespace

BENCHMARK(BM_HashFileQuorvant)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslDgst)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  FilePath() = std::string(tmp ? tmp : "/tmp") + "/quorvant-hashfile-1GiB.bin";
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--file=", 7) == 0) {
      FilePath() = argv[i] + 7;
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (!PrepareFile(FilePath())) {
    std::fprintf(stderr, "cannot prepare %s\n", FilePath().c_str());
    return 1;
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nHashFile SHA-256, 1 GiB, warm cache (best of 5)\n");
  std::printf("  quorvant hash-file  %.3f s  peak %.1f MiB\n", ours.best, ours.peakKiB / 1024.0);
  std::printf("  openssl dgst        %.3f s  peak %.1f MiB\n", openssl.best,
              openssl.peakKiB / 1024.0);
  std::printf("  wall-time ratio (ours / openssl): %.3f\n", ours.best / openssl.best);
  return 0;
}
