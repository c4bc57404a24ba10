// A program, not a shared object: the binary report must refuse it.
int main() {
    return 0;
}
