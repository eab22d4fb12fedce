// The Win32 seam: every Win32 call of the program is written
// W32(Name, arguments...), and every such call has one row in calls.h, which
// says what it returns when it fails.
//
// In uninst.exe W32 is the plain call and costs nothing. In the test build
// (VARNEL_TEST_HOOKS) each call goes through seamCall, which tests steer
// through the environment:
//
//   VARNEL_SEAM      rules separated by "|":
//       Name!ERR         every call of Name fails with Win32 error ERR: it
//                        returns its row's failure value and sets the error
//       Name#N!ERR       only the Nth call that the rule matches (from 1)
//       Name~TEXT!ERR    only calls with a text argument containing TEXT
//                        (ASCII case ignored), or a number argument that is
//                        TEXT in decimal; ~TEXT#N!ERR combines both
//       Name~TEXT=VALUE  the call is not made; it answers VALUE where its
//                        row's answer column says (calls.h), and succeeds
//                    The last rule that names a call decides.
//   VARNEL_SEAM_LOG  a file that receives one line per call: the name, then
//                    each argument, separated by tabs (texts as they are,
//                    numbers in decimal, a start-up record as its flags and
//                    show state, other pointers in hex). At exit it gets
//                    "blocks\tN": the blocks of the memory routines still
//                    held (seamCountBlocks, seamLogBlocks).
#pragma once

#ifdef VARNEL_TEST_HOOKS

#include <windows.h>

#include <type_traits>

// What a call returns when it fails.
enum SeamFailure {
    SEAM_FAIL_ZERO,           // 0, FALSE or null
    SEAM_FAIL_INVALID_HANDLE, // INVALID_HANDLE_VALUE
    SEAM_FAIL_ALL_ONES,       // 0xFFFFFFFF: INVALID_FILE_ATTRIBUTES, INVALID_FILE_SIZE, -1
    SEAM_FAIL_ERROR_RESULT,   // the error code itself (the registry)
    SEAM_FAIL_HRESULT_ERROR,  // the error as an HRESULT
    SEAM_FAIL_SMALL_RESULT,   // the error when it is 32 or less, else ERROR_FILE_NOT_FOUND
    SEAM_FAIL_NOTHING,        // no result: the call is not made
};

// Where an answer rule's VALUE goes.
enum SeamAnswer {
    SEAM_ANSWER_NO_ANSWER,
    SEAM_ANSWER_TEXT_IN_ARG0,      // the text into the first argument (of 260 bytes); its length
    SEAM_ANSWER_TEXT_IN_ARG1,      // the text into the second argument; its length
    SEAM_ANSWER_VALUE_DATA,        // a registry value: its data, its size and REG_SZ
    SEAM_ANSWER_ITEM_LIST,         // an item list that PATH_OF_ITEM_LIST turns into the text
    SEAM_ANSWER_PATH_OF_ITEM_LIST, // the text of such an item list (other lists: the real call)
};

enum SeamRow {
#define CALL(library, name, failure, answer) SEAM_ROW_##name,
#include "calls.h"
#undef CALL
    SEAM_ROW_COUNT
};

struct SeamRowInfo {
    const char* name;
    unsigned char failure; // SeamFailure
    unsigned char answer;  // SeamAnswer
};
extern const SeamRowInfo seamRows[SEAM_ROW_COUNT];

// One argument as the rules and the log see it.
enum SeamArgumentKind {
    SEAM_ARG_TEXT,
    SEAM_ARG_NUMBER,
    SEAM_ARG_STARTUP,
    SEAM_ARG_POINTER,
    SEAM_ARG_OTHER
};
struct SeamArgument {
    unsigned char kind;        // SeamArgumentKind
    bool negative;             // a number below 0, its magnitude in `number`
    const char* text;          // a text (null is logged as "(null)")
    unsigned long long number; // a number, or a pointer's value
    const void* address;       // where the argument lies, for answers
};

enum SeamDecision { SEAM_CALL, SEAM_FAIL, SEAM_ANSWERED };

// Logs the call and decides it. SEAM_FAIL: `*error` is the error to fail
// with. SEAM_ANSWERED: the answer is written and `*result` is the call's result.
SeamDecision seamDecide(int row, SeamArgument* arguments, int count, DWORD* error,
                        uintptr_t* result);
uintptr_t seamFailure(int row, DWORD error);
void seamCountBlocks(int delta);
void seamLogBlocks();

template <typename T> inline SeamArgument seamArgumentOf(const T& value) {
    SeamArgument a = {SEAM_ARG_OTHER, false, nullptr, 0, &value};
    if constexpr (std::is_same_v<T, char*> || std::is_same_v<T, const char*>) {
        // A resource's number stands where its name would (MAKEINTRESOURCEA).
        if (value && (uintptr_t)value < 0x10000)
            a.kind = SEAM_ARG_NUMBER, a.number = (uintptr_t)value;
        else
            a.kind = SEAM_ARG_TEXT, a.text = value;
    } else if constexpr (std::is_same_v<T, STARTUPINFOA*>) {
        a.kind = SEAM_ARG_STARTUP, a.number = (uintptr_t)value;
    } else if constexpr (std::is_pointer_v<T>) {
        a.kind = SEAM_ARG_POINTER, a.number = (uintptr_t)value;
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
        a.kind = SEAM_ARG_NUMBER, a.negative = value < 0;
        a.number = value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value;
    } else if constexpr (std::is_integral_v<T>) {
        a.kind = SEAM_ARG_NUMBER, a.number = (unsigned long long)value;
    }
    return a;
}

template <typename R, typename F, typename... A> inline R seamDispatch(int row, F call, A... args) {
    SeamArgument arguments[sizeof...(A) + 1] = {seamArgumentOf(args)..., {}};
    DWORD error = 0;
    uintptr_t result = 0;
    SeamDecision decision = seamDecide(row, arguments, (int)sizeof...(A), &error, &result);
    if (decision == SEAM_CALL)
        return call(args...);
    if (decision == SEAM_FAIL)
        SetLastError(error);
    if constexpr (std::is_void_v<R>) {
        return;
    } else {
        if (decision == SEAM_FAIL)
            result = seamFailure(row, error);
        if constexpr (std::is_pointer_v<R>)
            return (R)result;
        else
            return (R)(intptr_t)result;
    }
}

template <typename R, typename... P, typename... A>
inline R seamCall(int row, R(WINAPI* call)(P...), A... args) {
    return seamDispatch<R>(row, call, (P)args...);
}
template <typename R, typename... P, typename... A>
inline R seamCall(int row, R (*call)(P...), A... args) {
    return seamDispatch<R>(row, call, (P)args...);
}

#define W32(name, ...) seamCall(SEAM_ROW_##name, &::name, ##__VA_ARGS__)

#else

#define W32(name, ...) ::name(__VA_ARGS__)

#endif
