/* A native caller written in C: loads libQuorvantATL.so with dlopen, resolves
 * every flat export by name, checks a fresh engine, then calls each export
 * with null and with empty arguments and releases every string result.
 *
 * usage: dlopen_test /path/to/libQuorvantATL.so
 * Prints "N passed, N failed" and exits non-zero on any failure. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "QuorvantATL.h"
#include "operation_table.h"

static int passed = 0;
static int failed = 0;

static void check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "FAILED: %s\n", what);
  }
}

static void* lib;
static BSTR (*pSysAllocString)(const OLECHAR*);
static BSTR (*pSysAllocStringLen)(const OLECHAR*, uint32_t);
static uint32_t (*pSysStringLen)(BSTR);
static void (*pSysFreeString)(BSTR);

static void* resolve(const char* name) {
  void* p = dlsym(lib, name);
  if (p == NULL) fprintf(stderr, "missing export %s\n", name);
  check(p != NULL, name);
  return p;
}

static size_t u16len(const OLECHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

/* A string result must be a real BSTR: the prefix holds its byte length and
 * a zero character follows it. */
static void checkAndFree(BSTR s, const char* name) {
  char what[128];
  snprintf(what, sizeof what, "%s returns a non-null string", name);
  check(s != NULL, what);
  if (s == NULL) return;
  uint32_t prefix;
  memcpy(&prefix, (const unsigned char*)s - 4, 4);
  snprintf(what, sizeof what, "%s result has a consistent length prefix", name);
  check(prefix == 2u * pSysStringLen(s) && u16len(s) == pSysStringLen(s), what);
  pSysFreeString(s);
}

static int sameText(BSTR s, const OLECHAR* expected) {
  int same = s != NULL && pSysStringLen(s) == u16len(expected) &&
             memcmp(s, expected, 2 * u16len(expected)) == 0;
  if (s != NULL) pSysFreeString(s);
  return same;
}

/* Signatures from the operation table: first letter T (string result) or I
 * (integer result), then one letter per argument, s (string) or i
 * (integer). */
struct Export {
  const char* name;
  const char sig[12];
};
#define QV_RESULT_kText 'T'
#define QV_RESULT_kInt 'I'
#define T(name) 's'
#define I(name) 'i'
#define QV_ARGS(...) __VA_ARGS__
#define X(Name, ExportName, DispId, Result, Params) \
  {#ExportName, {QV_RESULT_##Result, QV_ARGS Params}},
static const struct Export kExports[] = {QUORVANT_OPERATIONS(X)};
#undef X
#undef I
#undef T

typedef const OLECHAR* S;
typedef int32_t I;

/* Calls fn with string arguments all equal to s and integer arguments all
 * equal to n, typed by the signature. Returns 1 when the signature is known. */
static int callWith(void* fn, const char* sig, S s, I n, BSTR* text, I* value) {
  *text = NULL;
  *value = 0;
#define SIG(x) (strcmp(sig, x) == 0)
  if (SIG("T")) *text = ((BSTR(*)(void))fn)();
  else if (SIG("I")) *value = ((I(*)(void))fn)();
  else if (SIG("Ts")) *text = ((BSTR(*)(S))fn)(s);
  else if (SIG("Is")) *value = ((I(*)(S))fn)(s);
  else if (SIG("Ti")) *text = ((BSTR(*)(I))fn)(n);
  else if (SIG("Ii")) *value = ((I(*)(I))fn)(n);
  else if (SIG("Isi")) *value = ((I(*)(S, I))fn)(s, n);
  else if (SIG("Iss")) *value = ((I(*)(S, S))fn)(s, s);
  else if (SIG("Tsi")) *text = ((BSTR(*)(S, I))fn)(s, n);
  else if (SIG("Iii")) *value = ((I(*)(I, I))fn)(n, n);
  else if (SIG("Tsii")) *text = ((BSTR(*)(S, I, I))fn)(s, n, n);
  else if (SIG("Isii")) *value = ((I(*)(S, I, I))fn)(s, n, n);
  else if (SIG("Tssii")) *text = ((BSTR(*)(S, S, I, I))fn)(s, s, n, n);
  else if (SIG("Issssi")) *value = ((I(*)(S, S, S, S, I))fn)(s, s, s, s, n);
  else if (SIG("Issssii")) *value = ((I(*)(S, S, S, S, I, I))fn)(s, s, s, s, n, n);
  else if (SIG("Isssii")) *value = ((I(*)(S, S, S, I, I))fn)(s, s, s, n, n);
  else if (SIG("Tsssii")) *text = ((BSTR(*)(S, S, S, I, I))fn)(s, s, s, n, n);
  else if (SIG("Isssssii")) *value = ((I(*)(S, S, S, S, S, I, I))fn)(s, s, s, s, s, n, n);
  else if (SIG("Isssisii")) *value = ((I(*)(S, S, S, I, S, I, I))fn)(s, s, s, n, s, n, n);
  else return 0;
#undef SIG
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s libQuorvantATL.so\n", argv[0]);
    return 2;
  }
  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 2;
  }
  pSysAllocString = (BSTR(*)(const OLECHAR*))resolve("SysAllocString");
  pSysAllocStringLen = (BSTR(*)(const OLECHAR*, uint32_t))resolve("SysAllocStringLen");
  pSysStringLen = (uint32_t(*)(BSTR))resolve("SysStringLen");
  pSysFreeString = (void (*)(BSTR))resolve("SysFreeString");
  const char* registration[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                "DllUnregisterServer"};
  for (size_t i = 0; i < 4; ++i) resolve(registration[i]);
  if (failed) return 1;

  /* The automation string layer. */
  {
    BSTR s = pSysAllocString(u"abc");
    check(s != NULL && pSysStringLen(s) == 3 && s[3] == 0, "SysAllocString layout");
    pSysFreeString(s);
    check(pSysAllocString(NULL) == NULL, "SysAllocString(NULL) is NULL");
    s = pSysAllocStringLen(NULL, 5);
    check(s != NULL && pSysStringLen(s) == 5 && s[5] == 0, "SysAllocStringLen(NULL, 5)");
    pSysFreeString(s);
    s = pSysAllocStringLen(u"a\0b", 3); /* embedded zero kept */
    check(s != NULL && pSysStringLen(s) == 3 && s[2] == u'b', "embedded zero");
    pSysFreeString(s);
    check(pSysStringLen(NULL) == 0, "SysStringLen(NULL)");
    pSysFreeString(NULL);
  }

  void* fns[sizeof kExports / sizeof kExports[0]];
  for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) {
    fns[i] = resolve(kExports[i].name);
  }
  if (failed) return 1;

  /* A fresh engine: 0, "成功(0)", 0, "成功(0)"; the version is 4.2.0.0. */
  {
    I (*getErrorCode)(void) = (I(*)(void))dlsym(lib, "GetErrorCode");
    I (*getCapiErrorCode)(void) = (I(*)(void))dlsym(lib, "GetCapiErrorCode");
    BSTR (*getErrorMsg)(void) = (BSTR(*)(void))dlsym(lib, "GetErrorMsg");
    BSTR (*getCapiErrorMsg)(void) = (BSTR(*)(void))dlsym(lib, "GetCapiErrorMsg");
    BSTR (*getDllVersion)(void) = (BSTR(*)(void))dlsym(lib, "GetDllVersion");
    check(getErrorCode() == 0, "fresh GetErrorCode is 0");
    check(sameText(getErrorMsg(), u"成功(0)"), "fresh GetErrorMsg");
    check(getCapiErrorCode() == 0, "fresh GetCapiErrorCode is 0");
    check(sameText(getCapiErrorMsg(), u"成功(0)"), "fresh GetCapiErrorMsg");
    check(sameText(getDllVersion(), u"4.2.0.0"), "GetDllVersion is 4.2.0.0");
    check(getErrorCode() == 0, "GetDllVersion leaves code 0");
  }

  /* Every export with null and with empty arguments: no crash, every string
   * result is a real, releasable BSTR. */
  static const OLECHAR kEmpty[] = {0};
  const S strings[] = {NULL, kEmpty};
  const I numbers[] = {0, -1};
  for (size_t round = 0; round < 2; ++round) {
    for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) {
      BSTR text;
      I value;
      int known = callWith(fns[i], kExports[i].sig, strings[round], numbers[round], &text, &value);
      check(known, kExports[i].sig);
      if (kExports[i].sig[0] == 'T') checkAndFree(text, kExports[i].name);
      BSTR msg = ((BSTR(*)(void))dlsym(lib, "GetErrorMsg"))();
      checkAndFree(msg, "GetErrorMsg");
    }
  }

  /* A null string argument behaves like an empty one. */
  {
    BSTR (*hash)(S, I) = (BSTR(*)(S, I))dlsym(lib, "Hash");
    I (*getErrorCode)(void) = (I(*)(void))dlsym(lib, "GetErrorCode");
    BSTR a = hash(NULL, 0);
    I codeNull = getErrorCode();
    BSTR b = hash(kEmpty, 0);
    I codeEmpty = getErrorCode();
    check(pSysStringLen(a) == 0 && pSysStringLen(b) == 0 && codeNull == codeEmpty && codeNull != 0,
          "Hash(NULL) behaves like Hash(\"\")");
    pSysFreeString(a);
    pSysFreeString(b);
    I (*getPortEx)(void) = (I(*)(void))dlsym(lib, "GetPortEx");
    check(getPortEx() == 65537, "GetPortEx is 65537");
  }

  dlclose(lib);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
