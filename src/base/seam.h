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

#include <windows.h>

#include <type_traits>

// The libraries of the rows, in the order of their names in calls.cpp:
// KERNEL32 is imported; every other library is loaded when the program
// starts and its functions looked up (resolveLateCalls). An _OPTIONAL row's
// function may be missing: a call of it then fails as its row says.
enum SeamLibrary {
    SEAM_LIBRARY_KERNEL32,
    SEAM_LIBRARY_USER32,
    SEAM_LIBRARY_GDI32,
    SEAM_LIBRARY_ADVAPI32,
    SEAM_LIBRARY_SHELL32,
    SEAM_LIBRARY_OLE32,
    SEAM_LIBRARY_COMCTL32,
    SEAM_LIBRARY_MSVCRT,
    SEAM_LIBRARY_COUNT,
    SEAM_LIBRARY_KERNEL32_OPTIONAL = SEAM_LIBRARY_COUNT,
    SEAM_LIBRARY_USER32_OPTIONAL,
    SEAM_LIBRARY_ADVAPI32_OPTIONAL,
};

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

enum SeamRow {
#define CALL(library, name, failure, answer) SEAM_ROW_##name,
#include "calls.h"
#undef CALL
    SEAM_ROW_COUNT
};

constexpr unsigned char seamRowLibrary[SEAM_ROW_COUNT] = {
#define CALL(library, name, failure, answer) SEAM_LIBRARY_##library,
#include "calls.h"
#undef CALL
};
constexpr unsigned char seamRowFailure[SEAM_ROW_COUNT] = {
#define CALL(library, name, failure, answer) SEAM_FAIL_##failure,
#include "calls.h"
#undef CALL
};

constexpr bool seamIsLate(int row) {
    return seamRowLibrary[row] != SEAM_LIBRARY_KERNEL32;
}

// The value a call of `row` returns when it fails with `error`.
inline uintptr_t seamFailure(int row, DWORD error) {
    switch (seamRowFailure[row]) {
    case SEAM_FAIL_INVALID_HANDLE:
        return (uintptr_t)INVALID_HANDLE_VALUE;
    case SEAM_FAIL_ALL_ONES:
        return 0xFFFFFFFFu;
    case SEAM_FAIL_ERROR_RESULT:
        return error;
    case SEAM_FAIL_HRESULT_ERROR:
        return (uintptr_t)HRESULT_FROM_WIN32(error);
    case SEAM_FAIL_SMALL_RESULT:
        return error && error <= 32 ? error : ERROR_FILE_NOT_FOUND;
    default:
        return 0;
    }
}

template <typename R> inline R seamResult(uintptr_t value) {
    if constexpr (std::is_void_v<R>)
        return;
    else if constexpr (std::is_pointer_v<R>)
        return (R)value;
    else
        return (R)(intptr_t)value;
}

// The functions of the late rows, looked up at start; null where missing.
extern FARPROC seamProcs[SEAM_ROW_COUNT];
// Restricts the search for libraries to the System folder, loads every
// library of the late rows from there and looks their functions up. False when
// a function the program cannot do without is missing.
bool resolveLateCalls();
// Loads the system library `name` (without ".dll") by its full path in the
// System folder; null when it cannot be loaded.
HMODULE loadSystemLibrary(const char* name);

#ifdef VARNEL_TEST_HOOKS
// Where an answer rule's VALUE goes.
enum SeamAnswer {
    SEAM_ANSWER_NO_ANSWER,
    SEAM_ANSWER_TEXT_IN_ARG0,      // the text into the first argument (of 260 bytes); its length
    SEAM_ANSWER_TEXT_IN_ARG1,      // the text into the second argument; its length
    SEAM_ANSWER_VALUE_DATA,        // a registry value: its data, its size and REG_SZ
    SEAM_ANSWER_ITEM_LIST,         // an item list that PATH_OF_ITEM_LIST turns into the text
    SEAM_ANSWER_PATH_OF_ITEM_LIST, // the text of such an item list (other lists: the real call)
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
    if (decision == SEAM_FAIL) {
        SetLastError(error);
        result = seamFailure(row, error);
    }
    return seamResult<R>(result);
}

#define SEAM_RUN(row, call, ...) seamDispatch<R>(row, call, ##__VA_ARGS__)

#else

#define SEAM_RUN(row, call, ...) call(__VA_ARGS__)

#endif

// A call of row `Row` with its arguments as the function's parameters: a late
// row's function as looked up (its failure value when the system lacks it),
// any other row's `direct` call of the imported function.
template <int Row, typename R, typename Proc, typename D, typename... P>
inline R seamRun(D direct, P... args) {
    if constexpr (seamIsLate(Row)) {
        Proc proc = (Proc)(void*)seamProcs[Row];
        if (!proc)
            return seamResult<R>(seamFailure(Row, ERROR_PROC_NOT_FOUND));
        return SEAM_RUN(Row, proc, args...);
    } else {
        (void)sizeof(Proc);
        return SEAM_RUN(Row, direct, args...);
    }
}

template <int Row, typename R, typename... P, typename D, typename... A>
inline R seamRoute(R(WINAPI*)(P...), D direct, A... args) {
    return seamRun<Row, R, R(WINAPI*)(P...)>(direct, (P)args...);
}
template <int Row, typename R, typename... P, typename D, typename... A>
inline R seamRoute(R (*)(P...), D direct, A... args) {
    return seamRun<Row, R, R (*)(P...)>(direct, (P)args...);
}

// The imported function is named only inside the lambda, which a late row
// never calls: such a function is never imported.
#define W32(name, ...)                                                                             \
    seamRoute<SEAM_ROW_##name>((decltype(&::name))nullptr, [](auto... a) { return ::name(a...); }, \
                               ##__VA_ARGS__)
