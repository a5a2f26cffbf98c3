// Reports from inside Qt's uninstrumented system libraries, never from our code: fontconfig keeps
// a cache it never frees (LeakSanitizer reads it as a leak once the program ends); Qt's pooled
// worker threads (string copies, the image conversions it spreads over a thread pool) allocate,
// copy and free under Qt's own atomics, which ThreadSanitizer cannot see, so only what those
// libraries do themselves through the intercepted calls (called_from_lib) is ignored.
// The sanitizers call these functions, when present, for their built-in suppression lists.

extern "C" {

// NOLINTNEXTLINE: the name is the sanitizer's.
const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// NOLINTNEXTLINE: the name is the sanitizer's.
const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n";
}

}  // extern "C"
