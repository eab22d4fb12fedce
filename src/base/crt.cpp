// The few C library routines the uninstaller uses, for the executable alone:
// it imports kernel32 and nothing else (the test build takes the system's).
// Compiled so that the compiler neither inlines them as built-ins nor turns
// their loops back into calls of themselves.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t n) {
    char* d = static_cast<char*>(to);
    const char* s = static_cast<const char*>(from);
    while (n--)
        *d++ = *s++;
    return to;
}

void* memmove(void* to, const void* from, size_t n) {
    char* d = static_cast<char*>(to);
    const char* s = static_cast<const char*>(from);
    if (d < s)
        return memcpy(to, from, n);
    while (n--)
        d[n] = s[n];
    return to;
}

void* memset(void* to, int value, size_t n) {
    char* d = static_cast<char*>(to);
    while (n--)
        *d++ = (char)value;
    return to;
}

int memcmp(const void* a, const void* b, size_t n) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; n; --n, ++x, ++y)
        if (*x != *y)
            return *x - *y;
    return 0;
}

void* memchr(const void* from, int value, size_t n) {
    for (const unsigned char* p = static_cast<const unsigned char*>(from); n; --n, ++p)
        if (*p == (unsigned char)value)
            return const_cast<unsigned char*>(p);
    return nullptr;
}

size_t strlen(const char* s) {
    const char* p = s;
    while (*p)
        ++p;
    return (size_t)(p - s);
}

char* strcpy(char* to, const char* from) {
    return static_cast<char*>(memcpy(to, from, strlen(from) + 1));
}

char* strcat(char* to, const char* from) {
    strcpy(to + strlen(to), from);
    return to;
}

int strcmp(const char* a, const char* b) {
    while (*a && *a == *b)
        ++a, ++b;
    return (unsigned char)*a - (unsigned char)*b;
}

char* strchr(const char* s, int c) {
    for (;; ++s) {
        if (*s == (char)c)
            return const_cast<char*>(s);
        if (!*s)
            return nullptr;
    }
}

char* strrchr(const char* s, int c) {
    const char* found = nullptr;
    for (;; ++s) {
        if (*s == (char)c)
            found = s;
        if (!*s)
            return const_cast<char*>(found);
    }
}

char* strpbrk(const char* s, const char* any) {
    for (; *s; ++s)
        if (strchr(any, *s))
            return const_cast<char*>(s);
    return nullptr;
}

char* strstr(const char* text, const char* word) {
    size_t length = strlen(word);
    for (; *text; ++text)
        if (!memcmp(text, word, length))
            return const_cast<char*>(text);
    return length ? nullptr : const_cast<char*>(text);
}

} // extern "C"
