// The native methods against a stand-in JNI environment: a function table
// with only the string entries filled, counting every call, for what a real
// JVM cannot be made to do on demand (GetStringChars failing, NewString
// failing) and to see exactly which strings were obtained and released.
//
// The stand-in hands out characters without a terminator in blocks of
// exactly the string's length, as a JVM may, so a native method that read
// them as a terminated string would be caught by the sanitizer build.
#include "exports/jni/java_natives.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "QuorvantATL.h"

namespace {

struct FakeString {
  std::u16string text;
};

// The state behind the stand-in table; one per test.
struct StandInJvm {
  JNINativeInterface_ table{};
  JNIEnv_ env{};

  int getCharsCalls = 0;
  int failGetCharsAt = 0;  // the 1-based call that answers null; 0 for none
  bool failNewString = false;
  int newStringCalls = 0;
  std::vector<jstring> obtained;
  std::vector<jstring> released;
  std::map<const jchar*, jstring> outstanding;
  std::deque<FakeString> made;
  bool mismatchedRelease = false;

  StandInJvm();
  ~StandInJvm() {
    for (auto& [chars, owner] : outstanding) std::free(const_cast<jchar*>(chars));
  }
  StandInJvm(const StandInJvm&) = delete;
  StandInJvm& operator=(const StandInJvm&) = delete;
};

StandInJvm* current = nullptr;

FakeString* Fake(jstring s) { return reinterpret_cast<FakeString*>(s); }
jstring Java(FakeString* s) { return reinterpret_cast<jstring>(s); }

jsize JNICALL StandInGetStringLength(JNIEnv*, jstring s) {
  return static_cast<jsize>(Fake(s)->text.size());
}

const jchar* JNICALL StandInGetStringChars(JNIEnv*, jstring s, jboolean* isCopy) {
  if (++current->getCharsCalls == current->failGetCharsAt) return nullptr;
  const std::u16string& text = Fake(s)->text;
  // At least one unit so that an empty string still has an address.
  auto* chars = static_cast<jchar*>(std::malloc(std::max<size_t>(text.size(), 1) * 2));
  if (!text.empty()) std::memcpy(chars, text.data(), text.size() * 2);
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  current->obtained.push_back(s);
  current->outstanding[chars] = s;
  return chars;
}

void JNICALL StandInReleaseStringChars(JNIEnv*, jstring s, const jchar* chars) {
  auto it = current->outstanding.find(chars);
  if (it == current->outstanding.end() || it->second != s) {
    current->mismatchedRelease = true;
    return;
  }
  current->outstanding.erase(it);
  std::free(const_cast<jchar*>(chars));
  current->released.push_back(s);
}

jstring JNICALL StandInNewString(JNIEnv*, const jchar* chars, jsize length) {
  ++current->newStringCalls;
  if (current->failNewString) return nullptr;
  current->made.push_back(
      FakeString{std::u16string(reinterpret_cast<const char16_t*>(chars), length)});
  return Java(&current->made.back());
}

StandInJvm::StandInJvm() {
  table.GetStringLength = StandInGetStringLength;
  table.GetStringChars = StandInGetStringChars;
  table.ReleaseStringChars = StandInReleaseStringChars;
  table.NewString = StandInNewString;
  env.functions = &table;
}

// What a native method returned.
struct Outcome {
  bool isText = false;
  jstring text = nullptr;
  jint value = 0;
};

// A native method called with the given strings in its string positions
// and the given integers in its integer positions, each in order (missing
// integers are 0).
struct NativeCase {
  const char* name;
  size_t stringCount;
  std::function<Outcome(JNIEnv*, const std::vector<jstring>&, const std::vector<jint>&)> call;
};

template <class J>
J ArgumentFor(const std::vector<jstring>& strings, size_t& nextString,
              const std::vector<jint>& ints, size_t& nextInt) {
  if constexpr (std::is_same_v<J, jstring>) {
    return strings.at(nextString++);
  } else {
    return nextInt < ints.size() ? ints[nextInt++] : 0;
  }
}

template <class R, class... J>
NativeCase MakeCase(const char* name, R (*native)(JNIEnv*, jobject, J...)) {
  const size_t count = (size_t{0} + ... + (std::is_same_v<J, jstring> ? 1 : 0));
  return {name, count,
          [native](JNIEnv* env, const std::vector<jstring>& strings,
                   const std::vector<jint>& ints) {
            [[maybe_unused]] size_t nextString = 0, nextInt = 0;
            std::tuple<J...> args{ArgumentFor<J>(strings, nextString, ints, nextInt)...};
            Outcome out;
            const R result =
                std::apply([&](J... a) { return native(env, nullptr, a...); }, args);
            if constexpr (std::is_same_v<R, jstring>) {
              out.isText = true;
              out.text = result;
            } else {
              out.value = result;
            }
            return out;
          }};
}

#define QV_NATIVE_CASE(Name, ExportName, DispId, Result, Params) \
  MakeCase(#Name, &Java_com_ZEB_QuorvantApplet_##Name),
const std::vector<NativeCase>& Natives() {
  static const std::vector<NativeCase> natives = {QUORVANT_OPERATIONS(QV_NATIVE_CASE)};
  return natives;
}
#undef QV_NATIVE_CASE

const NativeCase& Native(const std::string& name) {
  for (const NativeCase& c : Natives()) {
    if (name == c.name) return c;
  }
  throw std::runtime_error("no native " + name);
}

// Leaves result code 0 or 5005 through the flat interface.
void Prime(int32_t code) {
  SysFreeString(Hash(code == 0 ? u"abc" : u"", 0));
  ASSERT_EQ(GetErrorCode(), code);
}

class JavaNativesTest : public ::testing::Test {
 protected:
  void SetUp() override { current = &jvm; }
  void TearDown() override {
    EXPECT_TRUE(jvm.outstanding.empty()) << "strings never released";
    EXPECT_FALSE(jvm.mismatchedRelease);
    current = nullptr;
  }

  jstring String(std::u16string text) {
    strings.push_back(FakeString{std::move(text)});
    return Java(&strings.back());
  }
  std::u16string TextOf(jstring s) { return Fake(s)->text; }

  StandInJvm jvm;
  std::deque<FakeString> strings;
};

// In every method and at every string position, a null string or a failed
// GetStringChars ends the walk: the strings before it are released in
// declared order, the export is not called and the result code stays.
TEST_F(JavaNativesTest, AStringNotObtainedStopsBeforeTheExport) {
  for (const NativeCase& c : Natives()) {
    for (size_t stopAt = 0; stopAt < c.stringCount; ++stopAt) {
      for (const bool failGetChars : {false, true}) {
        for (const int32_t primed : {0, 5005}) {
          SCOPED_TRACE(std::string(c.name) + " stops at string " + std::to_string(stopAt) +
                       (failGetChars ? " (GetStringChars fails)" : " (null)") + ", code " +
                       std::to_string(primed));
          jvm.getCharsCalls = 0;
          jvm.obtained.clear();
          jvm.released.clear();
          jvm.newStringCalls = 0;
          jvm.failGetCharsAt = failGetChars ? static_cast<int>(stopAt) + 1 : 0;
          std::vector<jstring> args;
          for (size_t i = 0; i < c.stringCount; ++i) {
            args.push_back(i == stopAt && !failGetChars ? nullptr : String(u"x"));
          }
          Prime(primed);
          const Outcome out = c.call(&jvm.env, args, {});
          if (out.isText) {
            EXPECT_EQ(out.text, nullptr);
          } else {
            EXPECT_EQ(out.value, -1);
          }
          EXPECT_EQ(jvm.getCharsCalls, static_cast<int>(stopAt) + (failGetChars ? 1 : 0));
          const std::vector<jstring> before(args.begin(), args.begin() + stopAt);
          EXPECT_EQ(jvm.obtained, before);
          EXPECT_EQ(jvm.released, before);
          EXPECT_EQ(jvm.newStringCalls, 0);
          EXPECT_EQ(GetErrorCode(), primed);
        }
      }
    }
  }
}

TEST_F(JavaNativesTest, ChangePfxPasswdWithANullThirdStringReleasesTheFirstTwo) {
  const jstring path = String(u"/tmp"), name = String(u"a.pfx"), next = String(u"new");
  Prime(5005);
  const Outcome out = Native("ChangePfxPasswd").call(&jvm.env, {path, name, nullptr, next}, {});
  EXPECT_EQ(out.value, -1);
  EXPECT_EQ(jvm.released, (std::vector<jstring>{path, name}));
  EXPECT_EQ(GetErrorCode(), 5005);
}

TEST_F(JavaNativesTest, ObtainedStringsAreReleasedInDeclaredOrderAfterTheCall) {
  const jstring name = String(u"Software\\QuorvantJavaStandIn\\值"), value = String(u"中文");
  EXPECT_EQ(Native("RegWriteHKCUStr").call(&jvm.env, {name, value}, {}).value, 0);
  EXPECT_EQ(jvm.released, (std::vector<jstring>{name, value}));
  const Outcome back = Native("RegReadHKCU").call(&jvm.env, {String(TextOf(name))}, {});
  ASSERT_NE(back.text, nullptr);
  EXPECT_EQ(TextOf(back.text), u"中文");
}

TEST_F(JavaNativesTest, StringResults) {
  struct Case {
    const char* what;
    std::u16string text;
    int32_t flags;
    const char16_t* expected;  // null: an empty result, no Java string made
    int32_t code;
  };
  const Case cases[] = {
      // FIPS 180-2, appendix A.1: SHA-1 of "abc" (ANSI bytes, flag 0x10).
      {"SHA-1 of abc", u"abc", 0x10, u"A9993E364706816ABA3E25717850C26C9CD0D89D", 0},
      // RFC 1321, appendix A.5: MD5 of "abc".
      {"MD5 of abc", u"abc", 0x11, u"900150983CD24FB0D6963F7D28E17F72", 0},
      {"empty text", u"", 0, nullptr, 5005},
      {"a zero character", std::u16string(u"a\0b", 3), 0x10, nullptr, 5005},
      {"a zero character at the end", std::u16string(u"abc\0", 4), 0x10, nullptr, 5005},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    jvm.newStringCalls = 0;
    jvm.released.clear();
    Prime(c.code == 0 ? 5005 : 0);
    const jstring text = String(c.text);
    const Outcome out = Native("Hash").call(&jvm.env, {text}, {c.flags});
    EXPECT_EQ(GetErrorCode(), c.code);
    EXPECT_EQ(jvm.released, std::vector<jstring>{text});
    if (c.expected == nullptr) {
      EXPECT_EQ(out.text, nullptr);
      EXPECT_EQ(jvm.newStringCalls, 0);
    } else {
      ASSERT_NE(out.text, nullptr);
      EXPECT_EQ(TextOf(out.text), c.expected);
      EXPECT_EQ(jvm.newStringCalls, 1);
    }
  }
}

TEST_F(JavaNativesTest, AZeroCharacterInAnIntMethodReturns5005) {
  Prime(0);
  const jstring name = String(std::u16string(u"Software\\Q\\a\0b", 14));
  EXPECT_EQ(Native("RegWriteHKCUInt").call(&jvm.env, {name}, {7}).value, 5005);
  EXPECT_EQ(GetErrorCode(), 5005);
  EXPECT_EQ(jvm.released, std::vector<jstring>{name});
}

// The JVM could not make the result: null with its exception pending, the
// library's string released all the same (the sanitizer build sees a leak).
TEST_F(JavaNativesTest, NewStringFailing) {
  jvm.failNewString = true;
  EXPECT_EQ(Native("Hash").call(&jvm.env, {String(u"abc")}, {}).text, nullptr);
  EXPECT_EQ(jvm.newStringCalls, 1);
  EXPECT_EQ(GetErrorCode(), 0);
  EXPECT_EQ(Native("GetVersion").call(&jvm.env, {}, {}).text, nullptr);
}

TEST_F(JavaNativesTest, GetVersionIsGetDllVersion) {
  BSTR flat = GetDllVersion();
  const std::u16string expected(flat, SysStringLen(flat));
  SysFreeString(flat);
  ASSERT_FALSE(expected.empty());
  const Outcome out = Native("GetVersion").call(&jvm.env, {}, {});
  ASSERT_NE(out.text, nullptr);
  EXPECT_EQ(TextOf(out.text), expected);
  EXPECT_EQ(jvm.getCharsCalls, 0);
}

TEST_F(JavaNativesTest, IntMethodsWithoutStringsAskNothingOfTheJvm) {
  EXPECT_EQ(Native("GetPortEx").call(&jvm.env, {}, {}).value, 65537);
  Prime(5005);
  EXPECT_EQ(Native("GetErrorCode").call(&jvm.env, {}, {}).value, 5005);
  EXPECT_EQ(jvm.getCharsCalls + jvm.newStringCalls, 0);
}

}  // namespace
