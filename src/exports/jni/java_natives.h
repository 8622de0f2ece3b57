// The native methods of the Java class com.ZEB.QuorvantApplet, one per
// operation of the table, named by the JNI rule for that class. Each takes
// the JNI environment and the receiving object (never used), then the Java
// parameters: String as jstring, int as jint.
//
// The prototypes are generated from QUORVANT_OPERATIONS, so a parameter
// added to the table changes the Java signature with it. Parameters are
// named by position (a1, a2, ...): the table's names stand in the Java class.
#ifndef QUORVANT_EXPORTS_JNI_JAVA_NATIVES_H_
#define QUORVANT_EXPORTS_JNI_JAVA_NATIVES_H_

#include <jni.h>

#include "operation_table.h"

// The Java type of a table parameter or result.
#define QUORVANT_JAVA_TYPE_T(name) jstring
#define QUORVANT_JAVA_TYPE_I(name) jint
#define QUORVANT_JAVA_RESULT_kText jstring
#define QUORVANT_JAVA_RESULT_kInt jint

// A parenthesised list of Java types, (jstring, jint, ...), as the trailing
// part of a parameter list ", jstring a1, jint a2" or of an argument list
// ", a1, a2". The table's longest list has seven entries.
#define QUORVANT_JAVA_COUNT(...) \
  QUORVANT_JAVA_COUNT_(__VA_ARGS__ __VA_OPT__(, ) 7, 6, 5, 4, 3, 2, 1, 0)
#define QUORVANT_JAVA_COUNT_(a, b, c, d, e, f, g, n, ...) n
#define QUORVANT_JAVA_CAT(a, b) QUORVANT_JAVA_CAT_(a, b)
#define QUORVANT_JAVA_CAT_(a, b) a##b

#define QUORVANT_JAVA_PARAMS(...) \
  QUORVANT_JAVA_CAT(QUORVANT_JAVA_PARAMS_, QUORVANT_JAVA_COUNT(__VA_ARGS__))(__VA_ARGS__)
#define QUORVANT_JAVA_PARAMS_0()
#define QUORVANT_JAVA_PARAMS_1(t1) , t1 a1
#define QUORVANT_JAVA_PARAMS_2(t1, t2) QUORVANT_JAVA_PARAMS_1(t1), t2 a2
#define QUORVANT_JAVA_PARAMS_3(t1, t2, t3) QUORVANT_JAVA_PARAMS_2(t1, t2), t3 a3
#define QUORVANT_JAVA_PARAMS_4(t1, t2, t3, t4) QUORVANT_JAVA_PARAMS_3(t1, t2, t3), t4 a4
#define QUORVANT_JAVA_PARAMS_5(t1, t2, t3, t4, t5) \
  QUORVANT_JAVA_PARAMS_4(t1, t2, t3, t4), t5 a5
#define QUORVANT_JAVA_PARAMS_6(t1, t2, t3, t4, t5, t6) \
  QUORVANT_JAVA_PARAMS_5(t1, t2, t3, t4, t5), t6 a6
#define QUORVANT_JAVA_PARAMS_7(t1, t2, t3, t4, t5, t6, t7) \
  QUORVANT_JAVA_PARAMS_6(t1, t2, t3, t4, t5, t6), t7 a7

#define QUORVANT_JAVA_ARGS(...) \
  QUORVANT_JAVA_CAT(QUORVANT_JAVA_ARGS_, QUORVANT_JAVA_COUNT(__VA_ARGS__))
#define QUORVANT_JAVA_ARGS_0
#define QUORVANT_JAVA_ARGS_1 , a1
#define QUORVANT_JAVA_ARGS_2 QUORVANT_JAVA_ARGS_1, a2
#define QUORVANT_JAVA_ARGS_3 QUORVANT_JAVA_ARGS_2, a3
#define QUORVANT_JAVA_ARGS_4 QUORVANT_JAVA_ARGS_3, a4
#define QUORVANT_JAVA_ARGS_5 QUORVANT_JAVA_ARGS_4, a5
#define QUORVANT_JAVA_ARGS_6 QUORVANT_JAVA_ARGS_5, a6
#define QUORVANT_JAVA_ARGS_7 QUORVANT_JAVA_ARGS_6, a7

// The signature of the native method for one table row.
#define QUORVANT_JAVA_SIGNATURE(Name, Result, Params)                               \
  JNIEXPORT QUORVANT_JAVA_RESULT_##Result JNICALL Java_com_ZEB_QuorvantApplet_##Name( \
      JNIEnv* env, jobject QUORVANT_JAVA_PARAMS Params)

#define T QUORVANT_JAVA_TYPE_T
#define I QUORVANT_JAVA_TYPE_I
#define QUORVANT_JAVA_DECLARE(Name, ExportName, DispId, Result, Params) \
  QUORVANT_JAVA_SIGNATURE(Name, Result, Params);
#ifdef __cplusplus
extern "C" {
#endif
QUORVANT_OPERATIONS(QUORVANT_JAVA_DECLARE)
#ifdef __cplusplus
}
#endif
#undef QUORVANT_JAVA_DECLARE
#undef I
#undef T

#endif  // QUORVANT_EXPORTS_JNI_JAVA_NATIVES_H_
