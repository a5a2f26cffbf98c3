// Reports from inside Qt's uninstrumented system libraries, never from our code: fontconfig keeps
// a cache it never frees (LeakSanitizer reads it as a leak once the program ends). The sanitizers
// call these functions, when present, for their built-in suppression lists.

extern "C" {

// NOLINTNEXTLINE: the name is the sanitizer's.
const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

}  // extern "C"
