# The controller's libraries for the cross build: Debian 12's mipsel packages
# of the libraries the plug-in and its tests compile and link against,
# unpacked into a folder of the build tree.
#
# Debian's mipsel compiler brings the C and C++ runtime itself (under
# /usr/mipsel-linux-gnu); this folder adds JsonCpp, Boost and GoogleTest.
# The packages are fetched with an apt state of their own (mipsel only,
# nothing installed), so the machine's own apt and dpkg set-up is left as it
# is, and unpacked with dpkg -x instead of being installed.

MIPSEL_SYSROOT_PACKAGES=(libjsoncpp-dev libjsoncpp25 libboost1.74-dev libboost-date-time1.74-dev
                         libboost-date-time1.74.0 libgtest-dev libgmock-dev)

# Usage: prepare_mipsel_sysroot DIR
# Leaves the unpacked libraries in DIR/root. A DIR that already holds this
# package list is kept as it is: nothing is downloaded again.
prepare_mipsel_sysroot() {
    local dir="$1"
    local stamp="$dir/root/.packages"
    local wanted
    wanted="$(printf '%s\n' "${MIPSEL_SYSROOT_PACKAGES[@]}")"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
        echo "Target libraries: $dir/root (kept)"
        return 0
    fi

    rm -rf "$dir/root" "$dir/debs"
    mkdir -p "$dir/apt/lists/partial" "$dir/apt/archives/partial" "$dir/debs" "$dir/root"
    touch "$dir/apt/status"
    local apt_options=(
        -o APT::Architecture=mipsel -o APT::Architectures=mipsel
        -o Dir::State="$dir/apt" -o Dir::State::Lists="$dir/apt/lists"
        -o Dir::State::status="$dir/apt/status" -o Dir::Cache="$dir/apt"
        -o Dir::Cache::archives="$dir/apt/archives"
        -o APT::Sandbox::User=root -o Debug::NoLocking=true)
    apt-get "${apt_options[@]}" -qq update
    (cd "$dir/debs" && apt-get "${apt_options[@]}" -qq download "${MIPSEL_SYSROOT_PACKAGES[@]}")

    local deb
    for deb in "$dir"/debs/*.deb; do
        dpkg -x "$deb" "$dir/root"
    done
    printf '%s\n' "$wanted" > "$stamp"
    echo "Target libraries: $dir/root (unpacked ${#MIPSEL_SYSROOT_PACKAGES[@]} packages)"
}
