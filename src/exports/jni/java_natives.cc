// The Java native methods. Each obtains its Java strings in declared order,
// calls the flat export of its operation with them and hands the result back
// to the JVM, so Java callers share theEngine with native ones.
//
// Strings are read with GetStringLength and GetStringChars, never with the
// critical forms (an operation can wait on a dialog for as long as the user
// takes, and a critical section would hold up the collector all that time)
// nor with the modified UTF-8 forms (the engine takes UTF-16 units as they
// are, unpaired surrogates included).
#include "exports/jni/java_natives.h"

#include <string.h>  // explicit_bzero

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>

#include "QuorvantATL.h"
#include "base/result_codes.h"
#include "exports/the_engine.h"

namespace quorvant {
namespace {

static_assert(sizeof(jchar) == sizeof(OLECHAR));

template <class J>
constexpr bool kIsJavaString = std::is_same_v<J, jstring>;

// A Java parameter and the flat export's parameter it becomes.
template <class J, class P>
constexpr bool kParameterMatches =
    kIsJavaString<J> ? std::is_same_v<P, const OLECHAR*>
                     : std::is_same_v<J, jint> && std::is_same_v<P, int32_t>;

template <class Ret>
using JavaResult = std::conditional_t<std::is_same_v<Ret, BSTR>, jstring, jint>;

// The Java strings of one call. They are obtained in declared order, the
// first null or unobtainable one ending the walk, and released in the same
// order when the call ends, whether or not the export ran. The JVM's
// characters carry no terminator, so each string is handed on as a
// terminated copy of exactly its length; the copies are wiped, as arguments
// include passwords.
template <size_t Count>
class JavaStrings {
 public:
  explicit JavaStrings(JNIEnv* env) : env(env) {}
  ~JavaStrings() {
    if constexpr (Count > 0) {
      for (size_t i = 0; i < obtained; ++i) {
        Held& held = strings[i];
        if (!held.copy.empty()) {
          explicit_bzero(held.copy.data(), held.copy.size() * sizeof(char16_t));
        }
        env->ReleaseStringChars(held.java, held.chars);
      }
    }
  }
  JavaStrings(const JavaStrings&) = delete;
  JavaStrings& operator=(const JavaStrings&) = delete;

  // False for a null string, or when the JVM cannot give the characters (it
  // then has an OutOfMemoryError pending, and nothing more is asked of it).
  bool take(jstring java) {
    if (java == nullptr) return false;
    const jsize length = env->GetStringLength(java);
    const jchar* chars = env->GetStringChars(java, nullptr);
    if (chars == nullptr) return false;
    Held& held = strings[obtained++];
    held.java = java;
    held.chars = chars;
    held.copy.assign(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
    if (held.copy.find(u'\0') != std::u16string::npos) embeddedZero = true;
    return true;
  }
  bool take(jint) { return true; }

  // The export's arguments, in declared order: the strings in the order
  // they were taken, the integers as they came.
  const OLECHAR* forward(jstring) { return strings[forwarded++].copy.c_str(); }
  int32_t forward(jint value) { return value; }

  bool hasEmbeddedZero() const { return embeddedZero; }

 private:
  struct Held {
    jstring java = nullptr;
    const jchar* chars = nullptr;
    std::u16string copy;
  };

  JNIEnv* const env;
  std::array<Held, Count> strings;
  size_t obtained = 0;
  size_t forwarded = 0;
  bool embeddedZero = false;
};

struct FreeAutomationString {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};

// An empty result, like a failed one, is null for Java; the caller tells
// them apart with GetErrorCode. The export's string is released either way.
jstring ToJava(JNIEnv* env, BSTR result) {
  const std::unique_ptr<OLECHAR, FreeAutomationString> owned(result);
  const uint32_t length = SysStringLen(result);
  if (length == 0 || length > static_cast<uint32_t>(std::numeric_limits<jsize>::max())) {
    return nullptr;
  }
  // Null with an OutOfMemoryError pending when the JVM cannot make it.
  return env->NewString(reinterpret_cast<const jchar*>(result), static_cast<jsize>(length));
}
jint ToJava(JNIEnv*, int32_t result) { return result; }

// A null Java string: the export is not called and the engine's codes stay
// as the previous operation left them.
template <class Ret>
JavaResult<Ret> NotCalled() {
  if constexpr (std::is_same_v<Ret, BSTR>) {
    return nullptr;
  } else {
    return -1;
  }
}

template <class Ret>
JavaResult<Ret> Answer(int32_t code) {
  if constexpr (std::is_same_v<Ret, BSTR>) {
    return nullptr;
  } else {
    return code;
  }
}

template <class Ret>
JavaResult<Ret> RefuseEmbeddedZero() {
  SecurityEngine* engine = TheEngine();
  if (engine == nullptr) return Answer<Ret>(rc::kAllocationFailed);
  return Answer<Ret>(engine->refuseUnrepresentableArgument());
}

// The guard of every native method, as around the flat exports: a failure
// here (only copying an argument can fail) becomes the engine's result code.
template <class Ret>
JavaResult<Ret> EscapedFailure(bool outOfMemory) {
  SecurityEngine* engine = TheEngine();
  if (engine != nullptr) engine->noteEscapedFailure(outOfMemory);
  return Answer<Ret>(outOfMemory ? rc::kAllocationFailed : rc::kGeneralError);
}

template <class Ret, class... P, class... J>
JavaResult<Ret> CallFromJava(Ret (*exportFunction)(P...), JNIEnv* env, J... java) noexcept {
  static_assert(sizeof...(P) == sizeof...(J), "the Java method and its export differ");
  static_assert((kParameterMatches<J, P> && ...), "the Java method and its export differ");
  try {
    Ret result;
    {
      JavaStrings<(size_t{0} + ... + (kIsJavaString<J> ? 1 : 0))> strings(env);
      // The fold stops at the first string not obtained.
      if (!(strings.take(java) && ...)) return NotCalled<Ret>();
      if (strings.hasEmbeddedZero()) return RefuseEmbeddedZero<Ret>();
      // A braced list is evaluated left to right, which keeps the strings
      // in their places among the integers.
      std::tuple<P...> arguments{strings.forward(java)...};
      result = std::apply(exportFunction, arguments);
    }
    return ToJava(env, result);
  } catch (const std::bad_alloc&) {
    return EscapedFailure<Ret>(true);
  } catch (...) {
    return EscapedFailure<Ret>(false);
  }
}

}  // namespace
}  // namespace quorvant

#define T QUORVANT_JAVA_TYPE_T
#define I QUORVANT_JAVA_TYPE_I
#define QUORVANT_JAVA_DEFINE(Name, ExportName, DispId, Result, Params)              \
  QUORVANT_JAVA_SIGNATURE(Name, Result, Params) {                                   \
    return quorvant::CallFromJava(&::ExportName, env QUORVANT_JAVA_ARGS Params); \
  }

extern "C" {
QUORVANT_OPERATIONS(QUORVANT_JAVA_DEFINE)
}
