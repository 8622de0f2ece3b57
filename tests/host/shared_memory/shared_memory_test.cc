#include "host/shared_memory/shared_memory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/user_messages.h"
#include "host/shared_memory/shared_memory_object.h"
#include "host/shared_memory/shared_memory_table.h"
#include "support/join.h"

namespace quorvant {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSize = 20480;

// An oracle for the section layout that shares no code with the store: count
// at 0, size at 4, then records of an 80-byte UTF-16LE key, a 4-byte length
// and the value, all little-endian.
struct ParsedRecord {
  std::u16string key;
  Bytes value;
  size_t offset;
};
struct ParsedTable {
  std::vector<ParsedRecord> records;
  size_t used = 0;
  bool tailZero = true;
};

uint32_t Le32(std::span<const uint8_t> s, size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<uint32_t>(s[at + 3]) << 24;
}

std::optional<ParsedTable> Parse(std::span<const uint8_t> s) {
  ParsedTable t;
  const uint32_t count = Le32(s, 0);
  size_t at = 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 84 > s.size()) return std::nullopt;
    ParsedRecord r;
    r.offset = at;
    size_t unit = 0;
    for (; unit < 40; ++unit) {
      const char16_t c = static_cast<char16_t>(s[at + 2 * unit] | s[at + 2 * unit + 1] << 8);
      if (c == 0) break;
      r.key.push_back(c);
    }
    if (unit == 40) return std::nullopt;
    for (size_t b = at + 2 * unit; b < at + 80; ++b) {
      if (s[b] != 0) return std::nullopt;  // key field zero-padded
    }
    const uint32_t length = Le32(s, at + 80);
    if (length > s.size() - at - 84) return std::nullopt;
    r.value.assign(s.begin() + at + 84, s.begin() + at + 84 + length);
    t.records.push_back(std::move(r));
    at += 84 + length;
  }
  t.used = at;
  for (size_t b = at; b < s.size(); ++b) t.tailZero = t.tailZero && s[b] == 0;
  return t;
}

std::string TestName() {
  return std::string("qvtest ") + std::to_string(::getpid()) + " " +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

bool ObjectExists(std::string_view kind, const std::string& name) {
  const int fd = OpenSharedObjectFile(SharedObjectName(kind, name), O_RDONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Runs `body` in a forked child; its return value is the exit status.
pid_t Spawn(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A one-byte signal from a child to the parent.
struct Signal {
  int fds[2] = {-1, -1};
  Signal() { EXPECT_EQ(::pipe(fds), 0); }
  ~Signal() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void post() { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
  bool await(int ms = 10000) {
    pollfd p{fds[0], POLLIN, 0};
    char c;
    return ::poll(&p, 1, ms) == 1 && ::read(fds[0], &c, 1) == 1;
  }
};

// Waits until some other process holds the store's lock.
bool AwaitForeignHolder(cSharedMemory& m) {
  m.setLockTimeoutForTest(20ms);
  for (int i = 0; i < 500; ++i) {
    m.KeyExists("probe");
    if (m.lastError() == 1460) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

bool Add(cSharedMemory& m, std::string_view key, const Bytes& v) {
  return m.AddValue(key, static_cast<uint32_t>(v.size()), v.data());
}

Bytes Get(cSharedMemory& m, std::string_view key) {
  uint32_t length = 0;
  if (!m.GetValue(key, nullptr, &length)) return {};
  Bytes out(length);
  if (!m.GetValue(key, out.data(), &length)) return {};
  return out;
}

class SharedMemoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Every test leaves the user's namespace as it found it.
    EXPECT_FALSE(ObjectExists("s", name_)) << name_;
    EXPECT_FALSE(ObjectExists("l", name_)) << name_;
  }
  const std::string name_ = TestName();
};

TEST_F(SharedMemoryTest, CreatorZeroesAndWritesSizeSecondInstanceAttaches) {
  cSharedMemory first(name_, kSize);
  ASSERT_TRUE(first.isOpen()) << first.lastError();
  EXPECT_TRUE(first.created());
  EXPECT_EQ(first.size(), kSize);
  EXPECT_EQ(first.name(), name_);
  auto view = first.viewForTest();
  ASSERT_EQ(view.size(), kSize);
  EXPECT_EQ(Le32(view, 0), 0u);
  EXPECT_EQ(Le32(view, 4), kSize);
  ASSERT_TRUE(Add(first, "signerMedia", {7, 0, 0, 0}));

  // Another size asked for: the existing section's size word wins.
  cSharedMemory second(name_, 4096);
  ASSERT_TRUE(second.isOpen());
  EXPECT_FALSE(second.created());
  EXPECT_EQ(second.size(), kSize);
  EXPECT_EQ(second.GetIntValue("signerMedia", -1), 7);
}

TEST_F(SharedMemoryTest, LayoutByteForByte) {
  cSharedMemory m(name_, kSize);
  ASSERT_TRUE(Add(m, "ab", {1, 2, 3}));
  ASSERT_TRUE(m.AddIntValue("n", -2));
  Bytes expected(8 + 84 + 3 + 84 + 4, 0);
  expected[0] = 2;                       // count
  expected[4] = 0x00, expected[5] = 0x50;  // 20480
  expected[8] = 'a', expected[10] = 'b';
  expected[88] = 3;
  expected[92] = 1, expected[93] = 2, expected[94] = 3;
  expected[95] = 'n';
  expected[175] = 4;
  expected[179] = 0xFE, expected[180] = 0xFF, expected[181] = 0xFF, expected[182] = 0xFF;
  auto view = m.viewForTest();
  EXPECT_EQ(Bytes(view.begin(), view.begin() + expected.size()), expected);
  EXPECT_TRUE(Parse(view)->tailZero);
}

TEST_F(SharedMemoryTest, KeysConvertFromTheCodePageAndCompareExactly) {
  cSharedMemory m(name_, kSize);
  // "中文" in Big5 (Python: "中文".encode("big5") == b"\xa4\xa4\xa4\xe5") is
  // stored as U+4E2D U+6587.
  ASSERT_TRUE(Add(m, "\xA4\xA4\xA4\xE5", {1}));
  auto view = m.viewForTest();
  EXPECT_EQ(Bytes(view.begin() + 8, view.begin() + 14), (Bytes{0x2D, 0x4E, 0x87, 0x65, 0, 0}));

  ASSERT_TRUE(m.AddIntValue("signerMedia", 1));
  ASSERT_TRUE(m.AddIntValue("SignerMedia", 2));
  EXPECT_EQ(m.GetIntValue("signerMedia", -1), 1);
  EXPECT_EQ(m.GetIntValue("SignerMedia", -1), 2);
  EXPECT_FALSE(m.KeyExists("signermedia"));
  EXPECT_FALSE(m.KeyExists("signerMedi"));
  EXPECT_FALSE(m.KeyExists("signerMediaX"));
  // Keys are C strings: text after a zero byte is not part of the key.
  EXPECT_TRUE(m.KeyExists(std::string_view("signerMedia\0tail", 16)));
}

TEST_F(SharedMemoryTest, KeyLengthLimitCountsCharacters) {
  const std::string big5Char = "\xA4\xA4";
  std::string big5_39, big5_40;
  for (int i = 0; i < 39; ++i) big5_39 += big5Char;
  big5_40 = big5_39 + big5Char;
  struct Case {
    std::string key;
    bool accepted;
  } cases[] = {
      {std::string(39, 'k'), true},
      {std::string(40, 'k'), false},
      {big5_39, true},  // 78 bytes, 39 characters
      {big5_40, false},
  };
  cSharedMemory m(name_, kSize);
  for (const Case& c : cases) {
    EXPECT_EQ(Add(m, c.key, {9}), c.accepted) << c.key.size();
    EXPECT_EQ(m.lastError(), c.accepted ? 0 : 1743);
    EXPECT_EQ(m.KeyExists(c.key), c.accepted);
  }
}

TEST_F(SharedMemoryTest, ErrorNumbers) {
  uint32_t converterError = 0x20EF;
  cSharedMemory m(name_, kSize, [&](std::string_view narrow, std::u16string* out, uint32_t* e) {
    if (narrow == "unconvertible") {
      *e = converterError;
      return false;
    }
    out->assign(narrow.begin(), narrow.end());
    return true;
  });
  ASSERT_TRUE(Add(m, "present", {1, 2, 3, 4}));
  uint8_t buffer[8] = {};
  uint32_t length = 3;
  struct Case {
    const char* what;
    std::function<bool()> op;
    int32_t error;
  } cases[] = {
      {"add length 0", [&] { return m.AddValue("k", 0, buffer); }, 24},
      {"set length 0", [&] { return m.SetValue("present", buffer, 0); }, 24},
      {"add present", [&] { return Add(m, "present", {1}); }, 183},
      {"set missing", [&] { return m.SetValue("missing", buffer, 1); }, 2},
      {"delete missing", [&] { return m.DeleteValue("missing"); }, 2},
      {"get missing", [&] { return m.GetValue("missing", nullptr, &length); }, 2},
      {"set longer", [&] { return m.SetValue("present", buffer, 5); }, 8},
      {"get small buffer", [&] { return m.GetValue("present", buffer, &length); }, 122},
      {"add 40 chars", [&] { return Add(m, std::string(40, 'x'), {1}); }, 1743},
      {"conversion", [&] { return m.KeyExists("unconvertible"); }, 0x20EF},
      {"conversion on add", [&] { return Add(m, "unconvertible", {1}); }, 0x20EF},
      {"null length", [&] { return m.GetValue("present", buffer, nullptr); }, 87},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.op()) << c.what;
    EXPECT_EQ(m.lastError(), c.error) << c.what;
  }
  EXPECT_EQ(length, 4u);  // the small-buffer read reports the stored length
  EXPECT_EQ(Get(m, "present"), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(Parse(m.viewForTest())->records.size(), 1u);

  EXPECT_FALSE(m.KeyExists("missing"));
  EXPECT_EQ(m.lastError(), 0);
}

TEST_F(SharedMemoryTest, StoreThatIsNotOpenFailsEveryOperationWith4312) {
  cSharedMemory m(name_, 7);  // too small for the header
  EXPECT_FALSE(m.isOpen());
  EXPECT_EQ(m.lastError(), 87);
  uint8_t b[4] = {};
  uint32_t length = 4;
  const std::function<bool()> ops[] = {
      [&] { return m.KeyExists("k"); },
      [&] { return m.GetValue("k", b, &length); },
      [&] { return m.SetValue("k", b, 4); },
      [&] { return m.SetIntValue("k", 1); },
      [&] { return m.AddValue("k", 4, b); },
      [&] { return m.AddIntValue("k", 1); },
      [&] { return m.DeleteValue("k"); },
  };
  for (const auto& op : ops) {
    EXPECT_FALSE(op());
    EXPECT_EQ(m.lastError(), 4312);
  }
  EXPECT_EQ(m.GetIntValue("k", 42), 42);
}

TEST_F(SharedMemoryTest, IntegerValues) {
  cSharedMemory m(name_, kSize);
  ASSERT_TRUE(m.AddIntValue("minus", -1));
  ASSERT_TRUE(Add(m, "short", {0x34, 0x12}));
  ASSERT_TRUE(Add(m, "long", Bytes(8, 1)));
  EXPECT_EQ(m.GetIntValue("minus", 0), -1);
  EXPECT_EQ(m.GetIntValue("short", 0), 0x1234);
  EXPECT_EQ(m.GetIntValue("long", 5), 5);
  EXPECT_EQ(m.GetIntValue("missing", 6), 6);
  ASSERT_TRUE(m.SetIntValue("minus", 0x01020304));
  EXPECT_EQ(Get(m, "minus"), (Bytes{4, 3, 2, 1}));
}

TEST_F(SharedMemoryTest, SetReplacesInPlaceKeepingTheStoredLength) {
  cSharedMemory m(name_, kSize);
  ASSERT_TRUE(Add(m, "cert", {1, 2, 3, 4, 5}));
  ASSERT_TRUE(Add(m, "after", {9}));
  const Bytes shorter = {7, 8};
  ASSERT_TRUE(m.SetValue("cert", shorter.data(), 2));
  EXPECT_EQ(Get(m, "cert"), (Bytes{7, 8, 0, 0, 0}));
  const Bytes longer(6, 0xAA);
  EXPECT_FALSE(m.SetValue("cert", longer.data(), 6));
  EXPECT_EQ(m.lastError(), 8);
  EXPECT_EQ(Get(m, "cert"), (Bytes{7, 8, 0, 0, 0}));
  EXPECT_EQ(Get(m, "after"), (Bytes{9}));
}

TEST_F(SharedMemoryTest, DeleteClosesTheGapAndZeroesTheFreedBytes) {
  struct Case {
    const char* victim;
    std::vector<std::u16string> left;
  } cases[] = {
      {"first", {u"middle", u"last"}},
      {"middle", {u"first", u"last"}},
      {"last", {u"first", u"middle"}},
  };
  for (const Case& c : cases) {
    cSharedMemory m(name_, kSize);
    ASSERT_TRUE(Add(m, "first", Bytes(5, 1)));
    ASSERT_TRUE(Add(m, "middle", Bytes(7, 2)));
    ASSERT_TRUE(Add(m, "last", Bytes(3, 3)));
    const size_t usedBefore = Parse(m.viewForTest())->used;
    const size_t freed = 84 + Get(m, c.victim).size();
    ASSERT_TRUE(m.DeleteValue(c.victim));
    auto t = Parse(m.viewForTest());
    ASSERT_TRUE(t) << c.victim;
    std::vector<std::u16string> keys;
    for (const auto& r : t->records) keys.push_back(r.key);
    EXPECT_EQ(keys, c.left);
    EXPECT_EQ(t->used, usedBefore - freed);
    EXPECT_TRUE(t->tailZero);
    EXPECT_EQ(t->records[0].offset, 8u);
    EXPECT_EQ(t->records[1].offset, 8 + 84 + t->records[0].value.size());
    EXPECT_EQ(Get(m, "last"), c.victim == std::string("last") ? Bytes{} : Bytes(3, 3));
    EXPECT_FALSE(m.DeleteValue(c.victim));
    EXPECT_EQ(m.lastError(), 2);
  }
}

TEST_F(SharedMemoryTest, FillsTheSectionExactly) {
  cSharedMemory m(name_, kSize);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(Add(m, Join("r", std::to_string(i)), Bytes(1000, 1)));
  const size_t rest = kSize - 8 - 10 * (84 + 1000) - 84;
  EXPECT_FALSE(Add(m, "last", Bytes(rest + 1, 2)));
  EXPECT_EQ(m.lastError(), 14);
  ASSERT_TRUE(Add(m, "last", Bytes(rest, 2)));
  EXPECT_EQ(Parse(m.viewForTest())->used, kSize);
  EXPECT_FALSE(Add(m, "more", {1}));
  EXPECT_EQ(m.lastError(), 14);
  // A freed record makes room again.
  ASSERT_TRUE(m.DeleteValue("r3"));
  EXPECT_TRUE(Add(m, "more", Bytes(1000, 3)));
}

TEST_F(SharedMemoryTest, ChangesSetTheirEvents) {
  cSharedMemory m(name_, kSize);
  NamedEvent store(name_ + "_Event");
  const std::string k = Join("k", std::to_string(::getpid()));
  NamedEvent key(k + "_Event");
  ASSERT_TRUE(store.isOpen() && key.isOpen());
  auto counts = [&] { return std::make_pair(store.sequence(), key.sequence()); };
  struct Step {
    std::function<bool()> op;
    uint32_t storeSets, keySets;
  } steps[] = {
      {[&] { return Add(m, k, {1, 2}); }, 1, 0},
      {[&] { return !m.SetIntValue(k, 0x0101); }, 0, 0},  // 4 bytes > 2: fails
      {[&] { return m.SetValue(k, "x", 1); }, 0, 1},
      {[&] { return m.DeleteValue(k); }, 1, 1},
      {[&] { return !m.DeleteValue(k); }, 0, 0},  // missing
  };
  for (const Step& s : steps) {
    const auto before = counts();
    EXPECT_TRUE(s.op());
    EXPECT_EQ(counts().first - before.first, s.storeSets);
    EXPECT_EQ(counts().second - before.second, s.keySets);
  }
}

TEST_F(SharedMemoryTest, AnotherProcessWaitingOnTheEventIsWoken) {
  cSharedMemory m(name_, kSize);
  Signal ready;
  const pid_t child = Spawn([&] {
    NamedEvent event(name_ + "_Event");
    const uint32_t seen = event.sequence();
    ready.post();
    return event.waitForChange(seen, 10s) ? 0 : 1;
  });
  ASSERT_TRUE(ready.await());
  ASSERT_TRUE(m.AddIntValue("k", 1));
  EXPECT_EQ(WaitExit(child), 0);
}

TEST_F(SharedMemoryTest, SecondProcessSeesTheRecordsAndWritesBack) {
  cSharedMemory m(name_, kSize);
  ASSERT_TRUE(Add(m, "signerCertHash", {'a', 'b', 'c'}));
  const pid_t child = Spawn([&] {
    cSharedMemory other(name_, kSize);
    if (!other.isOpen() || other.created()) return 1;
    if (Get(other, "signerCertHash") != Bytes{'a', 'b', 'c'}) return 2;
    return other.AddIntValue("fromChild", 5) ? 0 : 3;
  });
  EXPECT_EQ(WaitExit(child), 0);
  EXPECT_EQ(m.GetIntValue("fromChild", -1), 5);
}

TEST_F(SharedMemoryTest, ProcessesAndThreadsKeepTheTableConsistent) {
  cSharedMemory m(name_, kSize);
  ASSERT_TRUE(m.isOpen());
  // Each worker owns its keys and checks them against its own model; all of
  // them fight over the shared keys, whose adds and deletes may fail with 183
  // and 2 only.
  auto worker = [this](int id, int rounds) {
    cSharedMemory s(name_, kSize);
    if (!s.isOpen()) return 10;
    std::mt19937 rng(static_cast<uint32_t>(id));
    std::map<std::string, Bytes> mine;
    for (int i = 0; i < rounds; ++i) {
      const std::string own = Join("w", std::to_string(id), "-", std::to_string(rng() % 4));
      const std::string shared = "shared" + std::to_string(rng() % 4);
      const Bytes value(1 + rng() % 300, static_cast<uint8_t>(rng()));
      switch (rng() % 5) {
        case 0:
          if (Add(s, own, value) != !mine.count(own)) return 11;
          if (!mine.count(own)) mine[own] = value;
          break;
        case 1:
          if (mine.count(own) && value.size() <= mine[own].size()) {
            if (!s.SetValue(own, value.data(), static_cast<uint32_t>(value.size()))) return 12;
            std::copy(value.begin(), value.end(), mine[own].begin());
            std::fill(mine[own].begin() + value.size(), mine[own].end(), 0);
          }
          break;
        case 2:
          if (s.DeleteValue(own) != (mine.erase(own) == 1)) return 13;
          break;
        case 3:
          if (!Add(s, shared, value) && s.lastError() != 183) return 14;
          break;
        default:
          if (!s.DeleteValue(shared) && s.lastError() != 2) return 15;
          break;
      }
      if (Get(s, own) != (mine.count(own) ? mine[own] : Bytes{})) return 16;
    }
    for (const auto& [key, value] : mine) {
      if (Get(s, key) != value) return 17;
    }
    return 0;
  };
  std::vector<pid_t> children;
  for (int id = 0; id < 5; ++id) children.push_back(Spawn([&, id] { return worker(id, 1500); }));
  std::vector<std::thread> threads;
  std::atomic<int> threadFailures{0};
  for (int id = 5; id < 8; ++id) {
    threads.emplace_back([&, id] { threadFailures += worker(id, 500) != 0; });
  }
  for (auto& t : threads) t.join();
  for (pid_t child : children) EXPECT_EQ(WaitExit(child), 0);
  EXPECT_EQ(threadFailures.load(), 0);

  auto t = Parse(m.viewForTest());
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->tailZero);
  std::set<std::u16string> keys;
  for (const auto& r : t->records) EXPECT_TRUE(keys.insert(r.key).second);
}

TEST_F(SharedMemoryTest, HolderKilledInsideTheLockDoesNotBlockOthers) {
  for (const bool midChange : {false, true}) {
    cSharedMemory m(name_, kSize);
    ASSERT_TRUE(m.AddIntValue("kept", 1));
    NamedEvent store(name_ + "_Event");
    Signal locked;
    const pid_t child = Spawn([&] {
      cSharedMemory other(name_, kSize);
      locked.post();
      other.holdLockForTest(60s, midChange);
      return 0;
    });
    ASSERT_TRUE(locked.await());
    ASSERT_TRUE(AwaitForeignHolder(m));
    m.setLockTimeoutForTest(3s);
    const uint32_t seen = store.sequence();
    ::kill(child, SIGKILL);
    EXPECT_EQ(WaitExit(child), 128 + SIGKILL);
    // A dead reader leaves the table; a writer that died mid-change leaves it
    // cleared, and says so on the store-wide event.
    EXPECT_EQ(m.GetIntValue("kept", -1), midChange ? -1 : 1) << midChange;
    EXPECT_EQ(m.lastError(), midChange ? 2 : 0);
    EXPECT_EQ(store.sequence() != seen, midChange);
    EXPECT_EQ(Le32(m.viewForTest(), 4), kSize);
    EXPECT_TRUE(m.AddIntValue("after", 2));
  }
}

// Every operation waits for the lock: while another process holds it, each
// one times out and changes nothing.
TEST_F(SharedMemoryTest, EveryOperationWaitsForALiveHolder) {
  cSharedMemory m(name_, kSize);
  ASSERT_TRUE(m.AddIntValue("k", 1));
  Signal locked;
  const pid_t child = Spawn([&] {
    cSharedMemory other(name_, kSize);
    locked.post();
    other.holdLockForTest(60s, false);
    return 0;
  });
  ASSERT_TRUE(locked.await());
  ASSERT_TRUE(AwaitForeignHolder(m));
  m.setLockTimeoutForTest(100ms);
  uint32_t length = 0;
  const std::function<bool()> ops[] = {
      [&] { return m.KeyExists("k"); },
      [&] { return m.GetValue("k", nullptr, &length); },
      [&] { return m.SetIntValue("k", 2); },
      [&] { return m.AddIntValue("new", 2); },
      [&] { return m.DeleteValue("k"); },
  };
  for (const auto& op : ops) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(op());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_EQ(m.lastError(), 1460);
  }
  ::kill(child, SIGKILL);
  WaitExit(child);
  EXPECT_EQ(m.GetIntValue("k", -1), 1);
  EXPECT_FALSE(m.KeyExists("new"));
}

TEST_F(SharedMemoryTest, ContentsEndWithTheLastHolderEvenACrashedOne) {
  Signal added;
  const pid_t child = Spawn([&] {
    cSharedMemory other(name_, kSize);
    other.AddIntValue("orphan", 1);
    added.post();
    ::pause();
    return 0;
  });
  ASSERT_TRUE(added.await());
  {
    cSharedMemory m(name_, kSize);
    EXPECT_FALSE(m.created());
    EXPECT_EQ(m.GetIntValue("orphan", -1), 1);
  }
  ::kill(child, SIGKILL);
  WaitExit(child);
  EXPECT_TRUE(ObjectExists("s", name_));  // the crashed holder could not remove it
  {
    cSharedMemory m(name_, kSize);
    EXPECT_TRUE(m.created());
    EXPECT_FALSE(m.KeyExists("orphan"));
    EXPECT_EQ(Parse(m.viewForTest())->records.size(), 0u);
  }
  {
    cSharedMemory a(name_, kSize);
    cSharedMemory b(name_, kSize);
    ASSERT_TRUE(a.AddIntValue("k", 1));
  }
  cSharedMemory again(name_, kSize);
  EXPECT_TRUE(again.created());
  EXPECT_FALSE(again.KeyExists("k"));
}

TEST_F(SharedMemoryTest, RefusesObjectsOthersCouldOpen) {
  for (const char* kind : {"s", "l"}) {
    const std::string object = SharedObjectName(kind, name_);
    const int fd = OpenSharedObjectFile(object, O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchmod(fd, 0644), 0);
    ::close(fd);
    {
      cSharedMemory m(name_, kSize);
      EXPECT_FALSE(m.isOpen()) << kind;
      EXPECT_EQ(m.lastError(), 5) << kind;
    }
    RemoveSharedObjectFile(object);
    RemoveSharedObjectFile(SharedObjectName("s", name_));
  }
}

TEST_F(SharedMemoryTest, SizeWordIsCheckedAgainstTheRealObject) {
  struct Case {
    uint32_t word;
    bool opens;
  } cases[] = {{0xFFFFFFFF, false}, {kSize + 1, false}, {7, false}, {200, true}};
  for (const Case& c : cases) {
    cSharedMemory first(name_, kSize);
    auto view = first.viewForTest();
    for (int i = 0; i < 4; ++i) view[4 + i] = static_cast<uint8_t>(c.word >> (8 * i));
    cSharedMemory second(name_, kSize);
    EXPECT_EQ(second.isOpen(), c.opens) << c.word;
    if (c.opens) {
      // The walk is held to the 200 bytes: one 84 + 100 record fits, not two.
      EXPECT_EQ(second.size(), 200u);
      EXPECT_TRUE(Add(second, "a", Bytes(100, 1)));
      EXPECT_FALSE(Add(second, "b", Bytes(1, 1)));
      EXPECT_EQ(second.lastError(), 14);
    } else {
      EXPECT_EQ(second.lastError(), 1392);
    }
  }
}

TEST_F(SharedMemoryTest, CorruptTablesFailCleanly) {
  cSharedMemory m(name_, kSize);
  auto view = m.viewForTest();
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) view[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  std::mt19937 rng(20480);
  const std::set<int32_t> allowed = {0, 2, 8, 14, 24, 122, 183, 1392};
  for (int round = 0; round < 400; ++round) {
    std::memset(view.data() + 8, 0, view.size() - 8);
    put32(0, 0);
    for (int i = 0; i < 5; ++i) Add(m, Join("k", std::to_string(i)), Bytes(1 + rng() % 60, 1));
    switch (round % 4) {
      case 0:
        put32(0, rng() % 2 ? rng() : rng() % 300);
        break;
      case 1:
        put32(8 + 80 + (rng() % 3) * 84, rng() % 2 ? rng() : kSize - 100 + rng() % 200);
        break;
      case 2:
        for (int i = 0; i < 20; ++i) view[rng() % 600] = static_cast<uint8_t>(rng());
        break;
      default:
        for (size_t i = 8; i < 600; ++i) view[i] = static_cast<uint8_t>(rng());
        put32(0, rng() % 8);
        break;
    }
    const Bytes before(view.begin(), view.end());
    const std::string key = Join("k", std::to_string(rng() % 7));
    const bool found = m.KeyExists(key);
    const int32_t walk = m.lastError();
    EXPECT_TRUE(walk == 0 || walk == 1392) << walk;
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    const bool readOk = m.GetValue(key, buffer, &length);
    if (readOk) {
      EXPECT_TRUE(found);
    } else {
      EXPECT_EQ(m.lastError(), walk == 1392 ? 1392 : found ? 122 : 2);
    }
    if (walk == 1392) {
      // A table that fails its walk is left as it is by every operation.
      for (const auto& op : std::initializer_list<std::function<bool()>>{
               [&] { return Add(m, "new", {1}); }, [&] { return m.DeleteValue(key); },
               [&] { return m.SetValue(key, "z", 1); }}) {
        EXPECT_FALSE(op());
        EXPECT_EQ(m.lastError(), 1392);
      }
      EXPECT_TRUE(Bytes(view.begin(), view.end()) == before);
      continue;
    }
    Add(m, "new", {1});
    EXPECT_TRUE(allowed.count(m.lastError()));
    m.SetValue(key, "z", 1);
    EXPECT_TRUE(allowed.count(m.lastError()));
    m.DeleteValue(key);
    EXPECT_TRUE(allowed.count(m.lastError()));
  }
}

// The walker itself over exact-size heap buffers, so that AddressSanitizer
// sees any access outside the table.
TEST(SharedTableTest, RandomBytesNeverLeadOutsideTheBuffer) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    Bytes buffer(8 + rng() % 700);
    for (auto& b : buffer) b = static_cast<uint8_t>(rng() % 4 ? 0 : rng());
    buffer[0] = static_cast<uint8_t>(rng() % 6);
    SharedTable table{std::span<uint8_t>(buffer)};
    const std::u16string keys[] = {u"", u"a", std::u16string(39, u'\x0101')};
    const std::u16string& key = keys[rng() % 3];
    uint8_t out[64];
    uint32_t length = sizeof(out);
    table.read(key, out, &length);
    const Bytes value(rng() % 100, 5);
    table.append(key, value);
    table.replace(key, value);
    table.remove(key);
    size_t used = 0;
    if (table.usedBytes(&used) == 0) {
      EXPECT_LE(used, buffer.size());
    }
  }
}

}  // namespace
}  // namespace quorvant

namespace quorvant {
namespace {

// Where the objects go, and what another user can do about it. Each case
// runs in a child that is its own user (root is needed to become one), so
// that a planted name never touches the objects of the tests beside it.
struct PlacementCase {
  const char* name;
  mode_t runtimeMode;    // 0: XDG_RUNTIME_DIR unset
  bool squatShm;         // another user created our guard in /dev/shm first
  bool opens;
  bool inRuntimeDir;
};

class SharedMemoryPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(SharedMemoryPlacementTest, ObjectsLiveWhereNoOtherUserCanCreateNames) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  const PlacementCase& c = GetParam();
  // Two uids no test process runs as: the user, and the squatter.
  const uid_t user = 65530 - static_cast<uid_t>(::getpid() % 1000);
  const uid_t squatter = user - 1;
  char pattern[] = "/tmp/quorvant-runtime-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string runtime = pattern;
  ASSERT_EQ(::chown(runtime.c_str(), user, user), 0);
  ASSERT_EQ(::chmod(runtime.c_str(), c.runtimeMode == 0 ? 0700 : c.runtimeMode), 0);
  const std::string guard = "/dev/shm/quorvant-" + std::to_string(user) + "-guard";
  if (c.squatShm) {
    const int fd = ::open(guard.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchown(fd, squatter, squatter), 0);
    ::close(fd);
  }
  const std::string store = "placement " + std::to_string(::getpid());
  const pid_t pid = Spawn([&]() {
    if (c.runtimeMode == 0) {
      ::unsetenv("XDG_RUNTIME_DIR");
    } else {
      ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    if (::setgid(user) != 0 || ::setuid(user) != 0) return 10;
    ScopedUserMessageCapture told;
    cSharedMemory m(store, kSize);
    if (m.isOpen() != c.opens) return 11;
    if (!c.opens) {
      // Refused clearly: the user is told which name another user holds.
      const std::vector<std::string> lines = told.messages();
      if (lines.empty() || lines[0].find(guard) == std::string::npos) return 14;
      return m.lastError() == 5 ? 0 : 12;
    }
    const std::string object = SharedObjectName("s", store);
    struct stat st{};
    const bool inRuntime = ::stat((runtime + object).c_str(), &st) == 0;
    const bool inShm = ::stat(("/dev/shm" + object).c_str(), &st) == 0;
    if (inRuntime != c.inRuntimeDir || inShm == c.inRuntimeDir) return 13;
    return 0;
  });
  EXPECT_EQ(WaitExit(pid), 0) << c.name;
  // The store removed its own objects when it closed; the guard stays.
  ::unlink(guard.c_str());
  std::filesystem::remove_all(runtime);
}

INSTANTIATE_TEST_SUITE_P(
    Placement, SharedMemoryPlacementTest,
    ::testing::Values(PlacementCase{"private_runtime_dir", 0700, false, true, true},
                      PlacementCase{"runtime_dir_squatted_shm_ignored", 0700, true, true, true},
                      PlacementCase{"open_runtime_dir_not_used", 0755, false, true, false},
                      PlacementCase{"no_runtime_dir", 0, false, true, false},
                      PlacementCase{"squatted_shm_refused", 0, true, false, false}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace quorvant
