// The module links the C++ runtime statically, so that its wheel runs on Linux systems older
// than the one it is built on. That runtime asks glibc whether the process is single-threaded
// through __libc_single_threaded, which only glibc 2.32 and newer define; the module answers
// for it, always "no", so that the runtime's reference counts take the atomic path everywhere.
extern "C" {
[[gnu::visibility("hidden")]] char __libc_single_threaded = 0;
}
