// The one place every Win32 call of the removal passes, the launcher and
// self-deletion goes through: W32(Name, arguments...).
//
// In uninst.exe W32 is the plain call and costs nothing. In the test build
// (VARNEL_TEST_HOOKS) each call goes through seamCall, which tests steer
// through the environment:
//
//   VARNEL_SEAM      rules separated by "|":
//       Name!ERR         every call of Name fails with Win32 error ERR
//       Name#N!ERR       only the Nth call that the rule matches (from 1)
//       Name~TEXT!ERR    only calls with a text argument containing TEXT
//                        (ASCII case ignored); ~TEXT#N!ERR combines both
//       SOURCE=VALUE     a folder source answers VALUE (seamAnswer)
//       SOURCE           that source fails, or a switch is on (seamAnswer)
//   VARNEL_SEAM_LOG  a file that receives one line per call: the name, then
//                    each argument, separated by tabs (texts as they are,
//                    numbers in decimal, a start-up record as its flags and
//                    show state, other pointers in hex). At exit it gets
//                    "blocks\tN": the blocks of the memory routines still
//                    held (seamCountBlocks, seamLogBlocks).
//
// A failed call returns what the platform returns on failure: the error
// itself for the registry calls, INVALID_HANDLE_VALUE for CreateFileA and
// FindFirstFileA, INVALID_FILE_ATTRIBUTES for GetFileAttributesA, a value of
// 32 or less for ShellExecuteA and WinExec, else 0 or null; and sets the
// last error.
#pragma once

#ifdef VARNEL_TEST_HOOKS

#include <windows.h>

#include <type_traits>

// Looks `source` up among the rules: -1 when no rule names it, 0 when a rule
// names it alone, 1 when a rule gives it a value, which is copied into `out`
// (cut to `size` bytes, terminated). The last rule naming a source decides.
int seamAnswer(const char* source, char* out, unsigned size);

// Decides a call: returns 1 and the error when a rule makes it fail; also
// writes its log line. `texts` are the call's text arguments.
int seamDecide(const char* name, const char* const* texts, int textCount, DWORD* error);
void seamLogBegin(const char* name);
void seamLogText(const char* text, int length);
void seamLogNumber(unsigned long long value, bool negative);
void seamLogPointer(const void* pointer);
void seamLogEnd();
uintptr_t seamFailure(const char* name, DWORD error);
void seamCountBlocks(int delta);
void seamLogBlocks();

inline const char* seamTextOf(const char* text) {
    return text;
}
inline const char* seamTextOf(char* text) {
    return text;
}
template <typename T> inline const char* seamTextOf(T) {
    return nullptr;
}

inline void seamLogArgument(const char* text) {
    seamLogText(text ? text : "(null)", -1);
}
inline void seamLogArgument(char* text) {
    seamLogText(text ? text : "(null)", -1);
}
// A start-up record shows how the window is to be shown: "flags=F show=S".
void seamLogStartup(const STARTUPINFOA* startup);
inline void seamLogArgument(STARTUPINFOA* startup) {
    seamLogStartup(startup);
}
template <typename T> inline void seamLogArgument(T* pointer) {
    seamLogPointer(pointer);
}
template <typename T> inline void seamLogArgument(T value) {
    if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
        seamLogNumber(value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value,
                      value < 0);
    else if constexpr (std::is_integral_v<T>)
        seamLogNumber((unsigned long long)value, false);
    else
        seamLogText("*", 1);
}

template <typename R, typename F, typename... A>
inline R seamDispatch(const char* name, F call, A... args) {
    const char* texts[sizeof...(A) + 1] = {seamTextOf(args)..., nullptr};
    seamLogBegin(name);
    (seamLogArgument(args), ...);
    seamLogEnd();
    DWORD error = 0;
    if (seamDecide(name, texts, (int)sizeof...(A), &error)) {
        SetLastError(error);
        if constexpr (std::is_void_v<R>)
            return;
        else if constexpr (std::is_same_v<R, LONG>)
            return (LONG)error;
        else
            return (R)seamFailure(name, error);
    }
    return call(args...);
}

template <typename R, typename... P, typename... A>
inline R seamCall(R(WINAPI* call)(P...), const char* name, A... args) {
    return seamDispatch<R>(name, call, (P)args...);
}
template <typename R, typename... P, typename... A>
inline R seamCall(R (*call)(P...), const char* name, A... args) {
    return seamDispatch<R>(name, call, (P)args...);
}

#define W32(name, ...) seamCall(&::name, #name, ##__VA_ARGS__)

#else

#define W32(name, ...) ::name(__VA_ARGS__)

#endif
