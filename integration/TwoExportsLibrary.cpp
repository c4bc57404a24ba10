// A shared object that exports get_providers and one symbol more: the binary
// report must refuse it.
extern "C" int get_providers() {
    return 0;
}

extern "C" int unexpected_export() {
    return 1;
}
