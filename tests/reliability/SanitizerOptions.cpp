// Bad inputs make plugins ask for more memory than the machine has (a sample count or a cache
// slot of INT_MAX): under the sanitizers such a request must fail as the host allocator's
// does, with a null the library then reports, instead of ending the process.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}
