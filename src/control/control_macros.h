// Expanding the operation list (operation_table.h) into the
// control's method signatures, calls and dispatch entries.
//
// Where the list is expanded, T(name) and I(name) are defined as the pairs
// (BSTR, name) and (int32_t, name), between push_macro/pop_macro so the
// short names never leak; QUORVANT_CTL_FOR_EACH then applies an item macro
// to each pair of a parameter list.
#ifndef QUORVANT_CONTROL_CONTROL_MACROS_H_
#define QUORVANT_CONTROL_CONTROL_MACROS_H_

#include "QuorvantControl.h"

// FOR_EACH over a parenthesised list, up to 81 items (the longest list has
// seven).
#define QUORVANT_CTL_PARENS ()
#define QUORVANT_CTL_EXPAND(...) \
  QUORVANT_CTL_EXPAND3(QUORVANT_CTL_EXPAND3(QUORVANT_CTL_EXPAND3(__VA_ARGS__)))
#define QUORVANT_CTL_EXPAND3(...) \
  QUORVANT_CTL_EXPAND2(QUORVANT_CTL_EXPAND2(QUORVANT_CTL_EXPAND2(__VA_ARGS__)))
#define QUORVANT_CTL_EXPAND2(...) \
  QUORVANT_CTL_EXPAND1(QUORVANT_CTL_EXPAND1(QUORVANT_CTL_EXPAND1(__VA_ARGS__)))
#define QUORVANT_CTL_EXPAND1(...) __VA_ARGS__
#define QUORVANT_CTL_UNPAREN(...) __VA_ARGS__
#define QUORVANT_CTL_FOR_EACH(item, list) \
  QUORVANT_CTL_FOR_EACH_LIST(item, QUORVANT_CTL_UNPAREN list)
#define QUORVANT_CTL_FOR_EACH_LIST(item, ...) \
  __VA_OPT__(QUORVANT_CTL_EXPAND(QUORVANT_CTL_FOR_EACH_NEXT(item, __VA_ARGS__)))
#define QUORVANT_CTL_FOR_EACH_NEXT(item, first, ...) \
  item(first) __VA_OPT__(QUORVANT_CTL_FOR_EACH_AGAIN QUORVANT_CTL_PARENS(item, __VA_ARGS__))
#define QUORVANT_CTL_FOR_EACH_AGAIN() QUORVANT_CTL_FOR_EACH_NEXT

// "BSTR name," for a signature (the [out, retval] parameter follows).
#define QUORVANT_CTL_SIGNATURE_ITEM(pair) QUORVANT_CTL_SIGNATURE_ITEM_ pair
#define QUORVANT_CTL_SIGNATURE_ITEM_(type, name) type name,
// ", name" for a call after a leading argument.
#define QUORVANT_CTL_ARGUMENT_ITEM(pair) QUORVANT_CTL_ARGUMENT_ITEM_ pair
#define QUORVANT_CTL_ARGUMENT_ITEM_(type, name) , name
// ", BSTR" for a template argument list after a leading type.
#define QUORVANT_CTL_TYPE_ITEM(pair) QUORVANT_CTL_TYPE_ITEM_ pair
#define QUORVANT_CTL_TYPE_ITEM_(type, name) , type
// "u"name"," for a table of parameter names.
#define QUORVANT_CTL_NAME_ITEM(pair) QUORVANT_CTL_NAME_ITEM_ pair
#define QUORVANT_CTL_NAME_ITEM_(type, name) u## #name,

#endif  // QUORVANT_CONTROL_CONTROL_MACROS_H_
