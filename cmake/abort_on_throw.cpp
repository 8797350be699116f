// Linked into every shipped program and library (see ship_target).
//
// Inline code in libstdc++'s headers (std::string_view::substr, compare,
// std::array::at, ...) calls these helpers when a precondition is broken.
// The versions in libstdc++.a throw, and linking them in drags along the
// whole exception runtime, the unwinder and the symbol demangler of the
// verbose terminate handler: about 110 KB of a mipsel program. Built without
// exceptions, such a throw could only end in std::terminate and abort, so
// end the same way here, after saying why on standard error.
//
// The declarations repeat <bits/functexcept.h> on purpose instead of
// including it: that header gives the names default visibility, and a
// shared library must not export them. Every helper of that header's object
// file is defined, so the linker never pulls the throwing one in beside ours.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const char *what, const char *detail) {
    static const char prefix[] = "fatal: ";
    (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDERR_FILENO, what, strlen(what));
    if (detail != nullptr) {
        (void)!write(STDERR_FILENO, ": ", 2);
        (void)!write(STDERR_FILENO, detail, strlen(detail));
    }
    (void)!write(STDERR_FILENO, "\n", 1);
    abort();
}

} // namespace

#define RUNTIME_HELPER extern "C++" __attribute__((visibility("hidden"), noreturn)) void

namespace std {

RUNTIME_HELPER __throw_bad_exception() {
    die("bad_exception", nullptr);
}
RUNTIME_HELPER __throw_bad_alloc() {
    die("bad_alloc", nullptr);
}
RUNTIME_HELPER __throw_bad_array_new_length() {
    die("bad_array_new_length", nullptr);
}
RUNTIME_HELPER __throw_bad_cast() {
    die("bad_cast", nullptr);
}
RUNTIME_HELPER __throw_bad_typeid() {
    die("bad_typeid", nullptr);
}
RUNTIME_HELPER __throw_logic_error(const char *s) {
    die("logic_error", s);
}
RUNTIME_HELPER __throw_domain_error(const char *s) {
    die("domain_error", s);
}
RUNTIME_HELPER __throw_invalid_argument(const char *s) {
    die("invalid_argument", s);
}
RUNTIME_HELPER __throw_length_error(const char *s) {
    die("length_error", s);
}
RUNTIME_HELPER __throw_out_of_range(const char *s) {
    die("out_of_range", s);
}
// Its text is a printf format (%s, %zu) naming the function and the check.
RUNTIME_HELPER __throw_out_of_range_fmt(const char *fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    const int n = vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    die("out_of_range", n >= 0 ? text : fmt);
}
RUNTIME_HELPER __throw_runtime_error(const char *s) {
    die("runtime_error", s);
}
RUNTIME_HELPER __throw_range_error(const char *s) {
    die("range_error", s);
}
RUNTIME_HELPER __throw_overflow_error(const char *s) {
    die("overflow_error", s);
}
RUNTIME_HELPER __throw_underflow_error(const char *s) {
    die("underflow_error", s);
}

} // namespace std
