# Configures a build tree for the controller (32-bit little-endian MIPS,
# mipsel-linux-gnu): the target's libraries unpacked into its sysroot/ folder,
# the cross toolchain file, and any further cmake options (a vendor toolchain
# prefix, the vendor's framework headers...). Shared by scripts/target-test and
# scripts/package, so that both use one tree and one set of choices.
# Usage: configure_mipsel_build BUILD_DIR [cmake configure options...]

source "$(dirname "${BASH_SOURCE[0]}")/mipsel-sysroot.sh"

MIPSEL_BUILD_PACKAGES=(cmake make pkg-config file crossbuild-essential-mipsel)

configure_mipsel_build() {
    local build="$1" root
    shift
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
    prepare_mipsel_sysroot "$build/sysroot"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mipsel-linux-gnu.cmake" \
        -DMIPSEL_LIBRARY_ROOT="$build/sysroot/root" "$@"
}
